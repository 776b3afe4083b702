// What runs that were killed (SIGKILL, the OOM killer, a power cut) left behind: the temporaries
// of the whole-file writer, ".NAME.PID.K" beside the outputs they were to become. A temporary is
// live while its writer holds its lock; one whose lock nobody holds is stale.
#pragma once

#include <functional>
#include <string>

// Removes from folder dir every stale temporary of ours: a regular file named ".NAME.PID.K",
// where NAME is one that ours accepts and PID and K are decimal numbers, whose lock it can take.
// A live run's temporaries, and every other file, stay. Returns how many it removed; a folder
// that cannot be read has none.
int remove_stale_temporaries(const std::string &dir,
                             const std::function<bool(const std::string &name)> &ours);

// The NAME of a temporary's name ".NAME.PID.K", or "" when name is not of that form.
std::string temporary_of(const std::string &name);
