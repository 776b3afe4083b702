// The names of the result series. Standard C++ only.
#include "res_file.h"

#include <array>
#include <cstdio>

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
