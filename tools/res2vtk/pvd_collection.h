// A conversion's output as one unit: a ParaView data collection FILE.pvd naming each .vtu file in
// the folder FILE beside it with its time. Each file is staged under a temporary name; the staged
// files are put in place together, the collection last, so that a run that fails or is stopped
// leaves the earlier output as it was. The folder is locked while a run writes it.
#pragma once

#include "tools/common/whole_file.h"
#include "util/status.h"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Where a collection lies.
struct CollectionPaths {
    std::string pvd = "series.pvd"; // the collection
    std::string folder = "series";  // its .vtu files: the collection's name without ".pvd"
    std::string rel = "series/";    // the folder as the collection names it
};

class Collection
{
  public:
    explicit Collection(CollectionPaths paths);
    // Unlocks the folder. Staged files not put in place are removed, and a folder this run made
    // goes again while it is empty.
    ~Collection();
    Collection(const Collection &) = delete;
    Collection &operator=(const Collection &) = delete;

    // Makes the folder if it is missing, removing the temporaries that killed runs left in it and
    // beside the collection, and locks it for this run alone: a second run into the same
    // collection is refused while this one writes it. On a file system without locks the run
    // goes on unguarded, and *warning says so.
    Status open(std::string *warning);

    // Writes the .vtu text of file n, at `time`, under a temporary name: closed, and durable when
    // sync.
    Status stage(int n, const std::string &time, const std::string &vtu, bool sync);
    bool any_staged() const
    {
        return !staged_.empty();
    }

    // Puts the staged files in place: the .vtu files, then the collection naming them and every
    // file put in place before, then removes what the collection it replaces named and this one
    // does not. Everything is durable before the first rename: the staged files through one sync
    // of the file system when sync_all, otherwise each was synced as it was staged.
    Status commit(bool sync_all);

    // The files the collection names now, by index.
    std::vector<int> in_place() const;

  private:
    std::set<std::string> named_by_old() const;
    std::string text() const;
    Status write_collection(bool sync_all, WholeFile *pvd) const;

    CollectionPaths paths_;
    int lock_fd_ = -1;
    bool made_folder_ = false;
    std::map<int, std::string> times_; // index -> time, of the files put in place
    std::vector<std::pair<int, WholeFile>> staged_;
    std::map<int, std::string> staged_times_;
};
