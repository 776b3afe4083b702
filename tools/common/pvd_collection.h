// A conversion's output as one unit: a ParaView data collection FILE.pvd naming a .vtu file for
// each converted result file, with its time, in the folder FILE beside it.
//
// Each .vtu file is named after its result file and its content ("res0001-5f0e3c9a2b7d4e81.vtu"),
// so that a file being written never has a name that the collection in place names: the same
// content has the same name, other content another. A run writes its files straight under these
// names and makes each of them durable; then replaces the collection in one rename, the one moment
// the output changes; and only then removes the files of ours in the folder that the new
// collection does not name. So a reader of the folder sees, at every moment, a collection whose
// every file is there and whole: the earlier one until the rename, the new one from it on. A
// failure before the rename leaves the earlier collection and every file it names as they were;
// files of ours that no collection names (of a failed or killed run) are removed by the next run
// that completes. The folder is locked while a run writes it.
#pragma once

#include "tools/common/whole_file.h"
#include "util/command_line.h"
#include "util/status.h"

#include <map>
#include <string>
#include <vector>

// Where a collection lies.
struct CollectionPaths {
    std::string pvd = "series.pvd"; // the collection
    std::string folder = "series";  // its .vtu files: the collection's name without ".pvd"
    std::string rel = "series/";    // the folder as the collection names it
};

// name (FILE.pvd) into *paths: the collection and the folder beside it.
Option collection_option(const char *name, CollectionPaths *paths);

// What is wrong with the collection that option `name` gave (*paths), given the series folder dir
// (nullptr: the working directory); "" when nothing is. The folder's own name goes into the
// collection, so it must be a real name that XML can carry, and it must not be the series folder
// itself, whose files it would mix with the results. Sets the folder as the collection names it.
std::string check_collection(const char *name, CollectionPaths *paths, const char *dir);

class Collection
{
  public:
    explicit Collection(CollectionPaths paths);
    // Unlocks the folder; a folder this run made goes again while it is empty.
    ~Collection();
    Collection(const Collection &) = delete;
    Collection &operator=(const Collection &) = delete;

    // Makes the folder if it is missing, removing the temporaries that killed runs left in it and
    // beside the collection, locks it for this run alone (a second run into the same collection
    // is refused while this one writes it), and reads the collection in place. On a file system
    // without locks the run goes on unguarded, and *warning says so. An error, with nothing
    // written, when the collection in place cannot be read.
    Status open(std::string *warning);

    // File n's .vtu text, at `time`, into the next collection: written under its name, unless the
    // collection in place names that very file already. It is made durable at commit.
    Status add(int n, const std::string &time, const std::string &vtu);
    // Whether the next collection names a file yet.
    bool any() const
    {
        return !next_.empty();
    }
    // File n into the next collection as the collection in place names it, if it does: its result
    // file could not be read this time, which says nothing about the earlier conversion.
    void keep(int n);

    // Replaces the collection in place by the next one: the files written since the last commit
    // and the folder's new names made durable, the collection written whole and durable and
    // renamed into place, then every file of ours in the folder that it does not name removed.
    // The next collection starts from this one.
    Status commit();

    // Removes the files this run wrote that the collection in place does not name, when a run
    // ends without putting them into it; an error for a file that stays (the next run that
    // completes removes it).
    Status discard();

    // The files the collection in place names, by index.
    std::vector<int> in_place() const;

    // Whether name is one of the names a collection gives its files ("res0001-....vtu", and
    // "res0001.vtu" of earlier versions).
    static bool ours(const std::string &name);

  private:
    struct Entry {
        std::string time;
        std::string file; // its name in the folder
    };
    Status read_in_place();
    std::string text(const std::map<int, Entry> &entries) const;
    Status remove_unnamed();

    CollectionPaths paths_;
    int lock_fd_ = -1;
    bool made_folder_ = false;
    std::map<int, Entry> in_place_;      // what the collection in place names, by index
    std::map<int, Entry> next_;          // what the next collection will name
    std::vector<std::string> added_;     // the files this run wrote, by name
    std::vector<std::string> undurable_; // those not made durable yet
};
