#include "resfile/series_health.h"

ReferenceFinder::ReferenceFinder(const char *dir)
    : dir_(dir), looked_(FILE_INDEX_MAX + 1, false), scratch_(std::make_unique<Mesh>())
{
}

ReferenceFinder::~ReferenceFinder() = default;

// The reference known for m's connectivity at or before n, the earliest of them; nullptr if none.
// Every file before a reference's index was looked at when it was found, so none of them has
// that connectivity.
const Reference *ReferenceFinder::known(int n, const Mesh &m) const
{
    const Reference *best = nullptr;
    for (const auto &r : refs_)
        if (r->index <= n && (!best || r->index < best->index) && same_connectivity(r->mesh, m))
            best = r.get();
    return best;
}

const Reference &ReferenceFinder::add(int n, const Mesh &m)
{
    refs_.push_back(std::make_unique<Reference>());
    make_reference(n, m, refs_.back().get());
    return *refs_.back();
}

const Reference &ReferenceFinder::find(int n, const Mesh &m)
{
    looked_[(std::size_t)n] = true; // its connectivity is known once this returns
    if (const Reference *r = known(n, m))
        return *r;
    // The earlier files not looked at yet, in series order: a file looked at before has another
    // connectivity, or it would be known.
    for (int k = 0; k < n; ++k) {
        if (looked_[(std::size_t)k])
            continue;
        looked_[(std::size_t)k] = true;
        LoadResult r = load_res(dir_, k, scratch_.get());
        files_read_ += r.status != LoadStatus::MISSING && r.status != LoadStatus::CANNOT_OPEN;
        if (r.status != LoadStatus::LOADED || known(k, *scratch_))
            continue;
        const Reference &added = add(k, *scratch_);
        if (same_connectivity(added.mesh, m))
            return added;
    }
    return add(n, m);
}

SeriesHealth::SeriesHealth(const char *dir) : finder_(dir) {}

const Health &SeriesHealth::measure(int n, const Mesh &m)
{
    const Reference &ref = finder_.find(n, m);
    const bool follows = previous_n_ >= 0 && same_connectivity(*previous_, m);
    new_mesh_ = previous_n_ >= 0 && !follows;
    reference_ = ref.index;
    previous_used_ = follows ? previous_n_ : -1;
    measure_health(ref, n, m, follows ? previous_.get() : nullptr, health_.get());
    *previous_ = m;
    previous_n_ = n;
    return *health_;
}
