#include "tools/common/last_contents.h"

#include <algorithm>
#include <memory>

void LastContents::keep(int n, const Mesh &m)
{
    Kept &k = kept_[n];
    k.x.assign(m.x, m.x + m.np);
    k.y.assign(m.y, m.y + m.np);
    k.ele.resize((std::size_t)m.nele);
    for (int e = 0; e < m.nele; ++e)
        k.ele[(std::size_t)e] = {m.ele[e][0], m.ele[e][1], m.ele[e][2]};
}

Status LastContents::replay(const FileStep &step) const
{
    auto m = std::make_unique<Mesh>();
    for (const auto &f : kept_) {
        const Kept &k = f.second;
        m->np = (int)k.x.size();
        m->nele = (int)k.ele.size();
        std::copy(k.x.begin(), k.x.end(), m->x);
        std::copy(k.y.begin(), k.y.end(), m->y);
        for (int e = 0; e < m->nele; ++e)
            for (int j = 0; j < 3; ++j)
                m->ele[e][j] = k.ele[(std::size_t)e][(std::size_t)j];
        Status s = step(f.first, *m);
        if (!s.ok())
            return s;
    }
    return Status();
}
