// The one way the programs beside the viewer write a file: whole or not at all. The bytes go to
// a temporary name of the process's own in the folder of the final name (".NAME.PID.K", mode
// 0666 less the umask), are made durable, and only then does the final name point at them; on
// any failure the temporary is removed. Two runs at once never write into each other's
// temporaries.
#pragma once

#include <cstddef>
#include <string>

// A file on its way to its final name.
struct WholeFile {
    std::string path; // the final name
    std::string tmp;  // the temporary name while it exists, else empty
    int fd = -1;      // open while being written
};

// Creates the temporary file for path. False with the reason in why.
bool whole_open(WholeFile *f, const std::string &path, std::string *why);

// Appends n bytes. False with the reason in why; the file is then abandoned, and later calls
// fail at once, leaving why as it is.
bool whole_write(WholeFile *f, const void *data, std::size_t n, std::string *why);

// Ends the writing: the bytes made durable (fsync) when sync is true, the file closed. The
// temporary keeps its name until whole_rename. False with the reason in why; the file is then
// abandoned.
bool whole_close(WholeFile *f, bool sync, std::string *why);

// Points the final name at the closed temporary. False with the reason in why; the file is then
// abandoned.
bool whole_rename(WholeFile *f, std::string *why);

// Closes and removes the temporary, if any; the final name is untouched.
void whole_abandon(WholeFile *f);

// All of it at once for bytes in memory: written, made durable, renamed into place.
bool write_whole_file(const std::string &path, const void *data, std::size_t n, std::string *why);

// Makes everything written on the file system that holds path durable, at once (syncfs).
bool sync_file_system(const std::string &path, std::string *why);

// Makes the renames into the folder dir durable (fsync of the folder).
bool sync_dir(const std::string &dir, std::string *why);

// The folder of path, as a name to open: "." for a bare file name.
std::string folder_of(const std::string &path);
