// The last complete content of each file of a follow, which hands files on in the order they
// complete and again when they are rewritten: kept, and handed on in series order at its end, so
// that what is measured or written is what is on disk, measured as a run from the start would.
#pragma once

#include "resfile/res_file.h"
#include "tools/common/series_loop.h"

#include <array>
#include <map>
#include <vector>

class LastContents
{
  public:
    // Keeps m as file n's content, in place of an earlier one.
    void keep(int n, const Mesh &m);
    // Hands each file kept to step, in series order; the first error stops it.
    Status replay(const FileStep &step) const;
    bool empty() const
    {
        return kept_.empty();
    }

  private:
    // A mesh in as much room as it needs.
    struct Kept {
        std::vector<double> x, y;
        std::vector<std::array<int, 3>> ele;
    };
    std::map<int, Kept> kept_;
};
