// The health of a series' files, each measured as the whole series measures it, whatever part of
// the series a run covers: against its reference, the series' first well-formed file with the
// same connectivity, found in the folder.
#pragma once

#include "resfile/health.h"

#include <memory>
#include <vector>

// Finds each file's reference, reading earlier files of the folder as needed, each at most once:
// one file when a run starts part way through, one pass over the earlier files where the mesh
// changes, none for a run from the series' start.
class ReferenceFinder
{
  public:
    // The series in dir (nullptr: the working directory).
    explicit ReferenceFinder(const char *dir);
    ~ReferenceFinder();
    ReferenceFinder(const ReferenceFinder &) = delete;
    ReferenceFinder &operator=(const ReferenceFinder &) = delete;

    // The reference of file n, which holds m: the first well-formed file of the series at or
    // before n with m's connectivity (file n itself when no earlier one has it).
    const Reference &find(int n, const Mesh &m);

    // Files it has read itself.
    int files_read() const
    {
        return files_read_;
    }

  private:
    const Reference *known(int n, const Mesh &m) const;
    const Reference &add(int n, const Mesh &m);

    const char *dir_;
    std::vector<std::unique_ptr<Reference>> refs_; // one for each connectivity seen
    std::vector<bool> looked_;                     // by index: the file was looked at
    std::unique_ptr<Mesh> scratch_;                // an earlier file being looked at
    int files_read_ = 0;
};

// A run's files measured one by one: each against its reference, and against the run's previous
// file when that held the same connectivity.
class SeriesHealth
{
  public:
    explicit SeriesHealth(const char *dir);

    // Measures file n, which holds m.
    const Health &measure(int n, const Mesh &m);

    // Of the file measured last: its reference's index; the index of the previous file it was
    // measured against, -1 for none; whether its connectivity differs from the previous file's
    // (never for the run's first file).
    int reference_index() const
    {
        return reference_;
    }
    int previous_index() const
    {
        return previous_used_;
    }
    bool new_mesh() const
    {
        return new_mesh_;
    }
    const ReferenceFinder &finder() const
    {
        return finder_;
    }

  private:
    ReferenceFinder finder_;
    std::unique_ptr<Health> health_ = std::make_unique<Health>();
    std::unique_ptr<Mesh> previous_ = std::make_unique<Mesh>();
    int previous_n_ = -1;    // the run's previous file, -1 before the first
    int previous_used_ = -1; // of the last file measured
    int reference_ = -1;
    bool new_mesh_ = false;
};
