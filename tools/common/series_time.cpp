#include "tools/common/series_time.h"

#include "resfile/res_file.h"

#include <charconv>
#include <cstring>

bool TimeStep::take(const char *text)
{
    // Split into digits and a decimal exponent, so that a file's time is formed exactly before
    // it is rounded once.
    double dt = 0;
    if (!parse_number(text, &dt) || dt <= 0 || !(dt * FILE_INDEX_MAX < 1e308))
        return false;
    std::string digits;
    long frac = 0;
    const char *p = text + (*text == '+');
    for (bool point = false; *p && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            point = true;
        } else {
            digits += *p;
            frac += point;
        }
    }
    long exp = 0;
    if (*p && std::from_chars(p + 1 + (p[1] == '+'), p + std::strlen(p), exp).ec != std::errc())
        return false;
    digits_ = digits;
    exp_ = exp - frac;
    return true;
}

std::string TimeStep::time_of(int n) const
{
    // The digits times n, exactly, then rounded once by from_chars.
    std::string product(digits_.size() + 5, '0');
    unsigned carry = 0;
    std::size_t k = product.size();
    for (std::size_t i = digits_.size(); i-- > 0;) {
        unsigned d = (unsigned)(digits_[i] - '0') * (unsigned)n + carry;
        product[--k] = (char)('0' + d % 10);
        carry = d / 10;
    }
    for (; carry > 0; carry /= 10)
        product[--k] = (char)('0' + carry % 10);
    product += "e" + std::to_string(exp_);
    double t = 0;
    std::from_chars(product.data(), product.data() + product.size(), t);
    char out[32];
    return std::string(out, std::to_chars(out, out + sizeof out, t).ptr);
}

Option dt_option(TimeStep *dt)
{
    return {"--dt", Takes::NUMBER, "a number of seconds above 0",
            [dt](const char *v) { return dt->take(v); }};
}
