// The one way the programs beside the viewer write a file: whole or not at all, and durable as
// crash-consistency studies define it. The bytes go to a temporary name of the process's own in
// the folder of the final name (".NAME.PID.K", mode 0666 less the umask), are made durable (fsync),
// the final name is pointed at them (rename), and the folder's entry is made durable (fsync of the
// folder); only then is the file written. The temporary is locked while it is open, so that a
// later run can tell it from one that a killed run left behind (see temporaries.h). Two runs at
// once never write into each other's temporaries. A failure names the file, the call and the
// system's reason ("cannot write out/res0001.png: fsync: Input/output error"), and says so when
// the temporary could not be removed either.
#pragma once

#include "util/status.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// A file on its way to its final name. Dropped before commit, it removes its temporary.
class WholeFile
{
  public:
    WholeFile() = default;
    ~WholeFile();
    WholeFile(WholeFile &&other) noexcept;
    WholeFile &operator=(WholeFile &&other) noexcept;
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    // How much of a commit is made durable before it counts as done.
    enum class Durable {
        NOT,        // nothing: data that can be made again (a sample series)
        BYTES,      // the bytes, before the rename; the folder's entry is left to the caller, who
                    // makes several renames durable at once (sync_dir)
        FOLDER_TOO, // the bytes before the rename, and the folder's entry after it
    };

    // Creates and locks the temporary file for path.
    Status open(const std::string &path);
    // Appends n bytes. After an error the file is abandoned, and later calls fail at once.
    Status write(const void *data, std::size_t n);
    // Points the final name at the temporary, made durable as d says, and closes it. After an
    // error the file is abandoned.
    Status commit(Durable d = Durable::FOLDER_TOO);
    // Closes and removes the temporary, if any; the final name is untouched. An error when the
    // temporary stays (the next run removes it).
    Status abandon();

    // The final name.
    const std::string &path() const
    {
        return path_;
    }
    // The final name points at the bytes written: the rename was done, even when a step after it
    // failed.
    bool renamed() const
    {
        return renamed_;
    }

  private:
    Status fail(const char *call);

    std::string path_; // the final name
    std::string tmp_;  // the temporary name while it exists, else empty
    int fd_ = -1;      // open while being written
    bool failed_ = false;
    bool renamed_ = false;
    Status failure_;
};

// All of it at once for bytes in memory: written, made durable, renamed into place.
Status write_whole_file(const std::string &path, const void *data, std::size_t n);

// Makes the names made and removed in the folder dir durable (fsync of the folder).
Status sync_dir(const std::string &dir);

// Writes a file that no reader looks at until something durable names it (a .vtu file before
// its collection does): straight under its name, not durable yet. A file cut short by a failure
// is removed; an error says when even that failed.
Status write_unnamed_file(const std::string &path, const void *data, std::size_t n);

// Makes the files names in the folder dir durable, each of them (fsync), not resting on a sync of
// the file system alone, which some file systems (FUSE) never receive: the whole file system
// first (syncfs), so that the fsync of each file finds little left to do where it is passed on.
Status make_durable(const std::string &dir, const std::vector<std::string> &names);

// "cannot VERB what: call: reason" from errno, as the programs' failures read.
Status system_error(const std::string &verb, const std::string &what, const char *call);

// A path's folder, as a name to open ("." for a bare file name, "/" at the top), and its last
// name.
struct PathParts {
    std::string folder;
    std::string name;
};
PathParts split_path(const std::string &path);

// The folder of path: split_path(path).folder.
std::string folder_of(const std::string &path);

// The temporary name ".NAME.PID.K" in path's folder, for path's NAME, this process and k.
std::string temporary_name(const std::string &path, int k);

// Readies the folder dir for one output a result file, named as the file with ext for ".inp"
// (res0001.png): makes it and its parents if they are missing, and removes the temporaries of such
// names that killed runs left there (see temporaries.h).
Status open_output_folder(const std::string &dir, const char *ext);

// The same for outputs whose names ours accepts.
Status open_output_folder(const std::string &dir,
                          const std::function<bool(const std::string &name)> &ours);

// Readies the one output path: makes its folder if it is missing, and removes the temporaries of
// path that killed runs left beside it.
Status open_output_file(const std::string &path);

// The output for result file n: its name with ext for ".inp" (res01000.inp -> res01000.png).
std::string output_name(int n, const char *ext);

// The index of an output's name that output_name makes with ext, or -1.
int output_index(const std::string &name, const char *ext);
