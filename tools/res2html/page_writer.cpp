#include "tools/res2html/page_writer.h"

#include "tools/common/xml_text.h"
#include "tools/res2html/page_assets.h"
#include "util/command_line.h"

#include <cstdio>

namespace
{

// text as a JSON string that may stand inside a script element: quotes, backslashes, control
// characters and '<' escaped.
std::string json_string(const std::string &text)
{
    std::string j = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            j += '\\';
            j += c;
        } else if ((unsigned char)c < 0x20 || c == '<') {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", (unsigned)(unsigned char)c);
            j += u;
        } else {
            j += c;
        }
    }
    return j + "\"";
}

// The settings the script reads, as JSON.
std::string meta_json(const PageSettings &s, const PageEncoder &data)
{
    const View &v = s.view;
    std::string j =
        "{\"w\":" + std::to_string(s.w) + ",\"h\":" + std::to_string(s.h) +
        ",\"fps\":" + std::to_string(s.fps) + ",\"mark\":" + (s.mark ? "true" : "false") +
        ",\"view\":{\"rot_x\":" + float_text(v.rot_x) + ",\"rot_y\":" + float_text(v.rot_y) +
        ",\"tx\":" + float_text(v.tx) + ",\"ty\":" + float_text(v.ty) +
        ",\"tz\":" + float_text(v.tz) + ",\"cx\":" + float_text(v.cx) +
        ",\"cy\":" + float_text(v.cy) + "},\"time_unit\":\"" + s.time_unit + "\",\"notes\":[";
    for (std::size_t k = 0; k < s.notes.size(); ++k)
        j += std::string(k ? "," : "") + json_string(s.notes[k]);
    j += "],\"files\":[";
    for (std::size_t k = 0; k < data.files().size(); ++k)
        j += (k ? "," : "") + std::to_string(data.files()[k]);
    j += "],\"times\":[";
    for (std::size_t k = 0; k < s.times.size(); ++k)
        j += std::string(k ? "," : "") + "\"" + s.times[k] + "\"";
    return j + "]}";
}

std::string chunk_element(const PageChunk &c)
{
    return "<script type=\"application/octet-stream\" class=\"chunk\" data-files=\"" +
           std::to_string(c.files) + "\">" + c.base64 + "</script>\n";
}

} // namespace

std::string page_html(const PageSettings &settings, const PageEncoder &data)
{
    std::string first, rest;
    for (std::size_t k = 0; k < data.chunks().size(); ++k)
        (k == 0 ? first : rest) += chunk_element(data.chunks()[k]);
    const std::pair<std::string, std::string> marks[] = {
        {"{{TITLE}}", xml_escaped(settings.title)},
        {"{{WIDTH}}", std::to_string(settings.w)},
        {"{{HEIGHT}}", std::to_string(settings.h)},
        {"{{META}}", meta_json(settings, data)},
        {"{{FIRST_CHUNK}}", first},
        {"{{INFLATER}}", PAGE_INFLATER},
        {"{{SCRIPT}}", PAGE_SCRIPT},
        {"{{CHUNKS}}", rest},
    };
    // One pass over the template: nothing put in is looked at again.
    const std::string page = PAGE_HTML;
    std::string out;
    for (std::size_t at = 0; at < page.size();) {
        std::size_t mark = page.find("{{", at);
        if (mark == std::string::npos)
            mark = page.size();
        out.append(page, at, mark - at);
        at = mark;
        for (const auto &m : marks) {
            if (page.compare(mark, m.first.size(), m.first) == 0) {
                out += m.second;
                at = mark + m.first.size();
            }
        }
        if (at == mark && at < page.size()) {
            out += "{{";
            at += 2;
        }
    }
    return out;
}
