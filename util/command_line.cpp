#include "util/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

bool parse_int(const char *s, int lo, int hi, int *v)
{
    const char *end = s + std::strlen(s);
    auto c = std::from_chars(s, end, *v);
    return c.ec == std::errc() && c.ptr == end && c.ptr != s && *v >= lo && *v <= hi;
}

bool parse_number(const char *s, double *v)
{
    const char *digits = s + (*s == '+' && s[1] != '-');
    const char *end = s + std::strlen(s);
    auto c = std::from_chars(digits, end, *v);
    return c.ec == std::errc() && c.ptr == end && c.ptr != digits && std::isfinite(*v);
}

bool parse_float(const char *s, float *v)
{
    double d = 0;
    if (!parse_number(s, &d))
        return false;
    *v = (float)d;
    return std::isfinite(*v);
}

std::string float_text(float v)
{
    std::uint32_t want = 0, got = 0;
    std::memcpy(&want, &v, sizeof v);
    char buf[32];
    // The shortest text that reads back as v as a float ("230", not "2.3e+02"), if it reads back
    // through a double too; else the fewest digits that do.
    char *shortest = std::to_chars(buf, buf + sizeof buf - 1, v).ptr;
    *shortest = '\0';
    float first = 0;
    if (parse_float(buf, &first) && (std::memcpy(&got, &first, sizeof first), got == want))
        return buf;
    for (int precision = 1;; ++precision) {
        char *end =
            std::to_chars(buf, buf + sizeof buf - 1, v, std::chars_format::general, precision).ptr;
        *end = '\0';
        float back = 0;
        bool read = parse_float(buf, &back);
        std::memcpy(&got, &back, sizeof back);
        // Nine digits always read back; fewer often do.
        if (precision >= 9 || (read && got == want))
            return buf;
    }
}

int usage_error(const char *program, const std::string &what)
{
    std::fprintf(stderr, "%s: %s\nsee %s --help\n", program, what.c_str(), program);
    return 2;
}

Option flag_option(const char *name, bool *v)
{
    return {name, Takes::NOTHING, "", [v](const char *) { return *v = true; }};
}

Option int_option(const char *name, int lo, int hi, int *v)
{
    return {name, Takes::NUMBER,
            "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi),
            [lo, hi, v](const char *s) { return parse_int(s, lo, hi, v); }};
}

Option float_option(const char *name, float *v)
{
    return {name, Takes::NUMBER, "a decimal number",
            [v](const char *s) { return parse_float(s, v); }};
}

Option path_option(const char *name, const char *what, const char **v)
{
    return {name, Takes::PATH, what, [v](const char *s) { return (*v = s) != nullptr; }};
}

Option size_option(const char *name, int max, int *w, int *h)
{
    return {name, Takes::TEXT, "a size WxH, each side from 1 to " + std::to_string(max),
            [max, w, h](const char *s) {
                const char *x = std::strchr(s, 'x');
                return x && parse_int(std::string(s, x).c_str(), 1, max, w) &&
                       parse_int(x + 1, 1, max, h);
            }};
}

Option noted(Option opt, bool *given)
{
    auto take = opt.take;
    opt.take = [take, given](const char *s) { return take(s) && (*given = true); };
    return opt;
}

namespace
{

bool looks_like_option(const char *s)
{
    return s[0] == '-' && s[1] != '\0';
}

CommandLine refuse(std::string error)
{
    CommandLine c;
    c.error = std::move(error);
    return c;
}

// How many letters must be put in, left out or changed to turn a into b.
std::size_t edit_distance(const std::string &a, const std::string &b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "unknown option --evry; did you mean --every?", the option nearest the name if one is near.
std::string unknown(const std::vector<Option> &opts, const std::string &name)
{
    const Option *nearest = nullptr;
    std::size_t best = 3; // a typing slip changes a letter or two
    for (const auto &o : opts) {
        std::size_t d = edit_distance(name, o.name);
        if (d < best) {
            best = d;
            nearest = &o;
        }
    }
    return "unknown option " + name +
           (nearest ? std::string("; did you mean ") + nearest->name + "?" : "");
}

const Option *find_option(const std::vector<Option> &opts, const std::string &name)
{
    for (const auto &o : opts)
        if (name == o.name)
            return &o;
    return nullptr;
}

// Takes option argv[*i] (its value from "=..." or the next argument); the error, or "".
std::string take_option(int argc, char **argv, int *i, const std::vector<Option> &opts)
{
    std::string name = argv[*i];
    const char *value = nullptr;
    std::size_t eq = name.find('=');
    if (eq != std::string::npos) {
        value = argv[*i] + eq + 1;
        name.resize(eq);
    }
    const Option *opt = find_option(opts, name);
    if (!opt)
        return unknown(opts, name);
    if (opt->takes == Takes::NOTHING) {
        if (value)
            return name + " takes no value";
    } else if (!value) {
        if (*i + 1 == argc)
            return name + " takes " + opt->what + ", and none was given";
        value = argv[++*i];
        if (opt->takes == Takes::PATH && looks_like_option(value))
            return "a value is missing after " + name + " (" + value + " looks like an option; " +
                   "write " + name + "=" + value + " for a name that begins with '-')";
    }
    if ((value && *value == '\0') || !opt->take(value))
        return name + " takes " + opt->what + ", not \"" + (value ? value : "") + "\"";
    return "";
}

} // namespace

CommandLine read_command_line(int argc, char **argv, const std::vector<Option> &opts,
                              std::size_t max_dirs)
{
    CommandLine cl;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "--help" || arg == "-h")) {
            cl.help = true;
            return cl;
        } else if (!options || !looks_like_option(argv[i])) {
            if (cl.dirs.size() == max_dirs)
                return refuse(max_dirs == 1 ? "more than one directory given: " + arg
                                            : "more than " + std::to_string(max_dirs) +
                                                  " directories given: " + arg);
            cl.dirs.push_back(argv[i]);
            cl.dir = cl.dirs.front();
        } else {
            std::string error = take_option(argc, argv, &i, opts);
            if (!error.empty())
                return refuse(error);
        }
    }
    return cl;
}
