// The names of the result series. Standard C++ and POSIX.
#include "resfile/res_file.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <map>

const char *res_file_name(int n)
{
    // "res0" + at least three digits + ".inp", made once for the whole series, by whichever
    // thread asks first.
    static const auto names = [] {
        std::array<std::array<char, 20>, FILE_INDEX_MAX + 1> all{}; // room for any int
        for (std::size_t i = 0; i < all.size(); ++i)
            std::snprintf(all[i].data(), all[i].size(), "res0%03d.inp", (int)i);
        return all;
    }();
    if (n < 0 || n > FILE_INDEX_MAX)
        return nullptr;
    return names[(std::size_t)n].data();
}

int res_file_index(const char *name)
{
    int n = -1;
    const std::size_t len = std::strlen(name);
    if (len < 11 || std::strncmp(name, "res0", 4) != 0 ||
        std::strcmp(name + len - 4, ".inp") != 0 ||
        std::from_chars(name + 4, name + len - 4, n).ptr != name + len - 4)
        return -1;
    const char *canonical = res_file_name(n);
    return canonical && std::strcmp(canonical, name) == 0 ? n : -1;
}

namespace
{

// The number in a name like a result file's, whatever its case and padding ("RES1.INP" -> 1),
// or -1.
long lookalike_number(const char *name)
{
    const std::size_t len = std::strlen(name);
    if (len < 8 || len > 40 || strncasecmp(name, "res", 3) != 0 ||
        strcasecmp(name + len - 4, ".inp") != 0)
        return -1;
    long n = 0;
    for (const char *p = name + 3; p < name + len - 4; ++p) {
        if (!std::isdigit((unsigned char)*p))
            return -1;
        n = n * 10 + (*p - '0');
        if (n > 1000000000L)
            return -1;
    }
    return n;
}

} // namespace

std::string naming_hint(const char *dir)
{
    DIR *d = opendir(dir ? dir : ".");
    if (!d)
        return "";
    std::map<long, std::string> like; // by number: the first name seen
    int count = 0;
    bool series = false;
    for (dirent *e = readdir(d); e && !series; e = readdir(d)) {
        series = res_file_index(e->d_name) >= 0;
        long n = lookalike_number(e->d_name);
        if (n >= 0) {
            ++count;
            like.emplace(n, e->d_name);
        }
    }
    closedir(d);
    if (series || count == 0)
        return "";
    std::string names = like.begin()->second;
    if (count > 1)
        names += " .. " + like.rbegin()->second;
    return std::string(dir ? dir : ".") + " holds " + std::to_string(count) + " file" +
           (count > 1 ? "s" : "") + " named like results (" + names +
           ") but none named as the series is: \"res0\" and the index with at least three "
           "digits, res0000.inp, res0001.inp .. res01010.inp";
}
