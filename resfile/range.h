// Which indices of the series a run goes through: first, first + every, ... up to last.
#pragma once

#include "resfile/res_file.h"

struct Range {
    int first = 0;
    int last = FILE_INDEX_MAX;
    int every = 1;

    bool contains(int n) const
    {
        return n >= first && n <= last && (n - first) % every == 0;
    }

    // How many indices the range holds.
    int count() const
    {
        return (last - first) / every + 1;
    }
};
