#include "tools/common/view_choice.h"

#include <algorithm>
#include <cstdio>

Status apply_fit(const Extent &e, ViewChoice *c)
{
    if (!c->fit)
        return Status();
    Status s = fit_view(e, &c->view);
    if (s.ok()) {
        std::printf("view: %s\n", placement_options(c->view).c_str());
        std::fflush(stdout);
    }
    return s;
}

void OutsideFiles::look(int n, const Mesh &m, const View &v)
{
    const double share = share_inside(m, v);
    if (share >= MOSTLY_OUTSIDE || std::find(files_.begin(), files_.end(), n) != files_.end())
        return;
    files_.push_back(n);
    if (first_ < 0 || n < first_) {
        first_ = n;
        first_box_ = Extent{};
        first_box_.add(m);
        first_share_ = share;
    }
}

std::string OutsideFiles::note() const
{
    if (files_.empty())
        return "";
    const std::size_t more = files_.size() - 1;
    std::string files = res_file_name(first_);
    std::string box = outside_text(first_box_, first_share_, "the picture");
    if (more > 0) {
        files += " and " + std::to_string(more) + " more file" + (more > 1 ? "s" : "");
        // The box is the first file's: "(x 0..120, y 0..40 in res0000.inp)".
        box.insert(box.find(')'), std::string(" in ") + res_file_name(first_));
    }
    return files + ": " + box + "; try --fit";
}
