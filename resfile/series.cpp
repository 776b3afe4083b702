// The names of the result series. Standard C++ only.
#include "res_file.h"

#include <cstdio>

const char *res_file_name(int n)
{
    // "res0" + at least three digits + ".inp", made once for the whole series.
    static char names[FILE_INDEX_MAX + 1][16];
    if (n < 0 || n > FILE_INDEX_MAX)
        return nullptr;
    if (names[n][0] == '\0')
        std::snprintf(names[n], sizeof names[n], "res0%03d.inp", n);
    return names[n];
}
