#include "tools/common/xml_text.h"

#include <charconv>

const char *xml_unfit(const std::string &s)
{
    for (std::size_t i = 0; i < s.size();) {
        auto c = (unsigned char)s[i];
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + (std::size_t)len > s.size())
            return "it is not UTF-8";
        unsigned cp = len == 1 ? c : c & (0x7fu >> len);
        for (int k = 1; k < len; ++k) {
            auto d = (unsigned char)s[i + (std::size_t)k];
            if ((d >> 6) != 2)
                return "it is not UTF-8";
            cp = cp << 6 | (d & 0x3fu);
        }
        const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return "it is not UTF-8";
        if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xfffe || cp == 0xffff)
            return "it holds a control character";
        i += (std::size_t)len;
    }
    return nullptr;
}

std::string xml_escaped(const std::string &s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string xml_unescaped(const std::string &s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::size_t semi = s[i] == '&' ? s.find(';', i) : std::string::npos;
        if (semi == std::string::npos) {
            out += s[i];
            continue;
        }
        std::string e = s.substr(i + 1, semi - i - 1);
        unsigned long cp = 0;
        if (e == "amp")
            out += '&';
        else if (e == "lt")
            out += '<';
        else if (e == "gt")
            out += '>';
        else if (e == "quot")
            out += '"';
        else if (e == "apos")
            out += '\'';
        else if (e.size() > 1 && e[0] == '#' &&
                 std::from_chars(e.data() + 1 + (e[1] == 'x'), e.data() + e.size(), cp,
                                 e[1] == 'x' ? 16 : 10)
                         .ec == std::errc() &&
                 cp < 0x80)
            out += (char)cp; // only ASCII is ever written as a reference
        else
            out += s.substr(i, semi - i + 1);
        i = semi;
    }
    return out;
}
