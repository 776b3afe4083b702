// The viewer's load step: a result file loaded or the process ended, with the viewer's
// open-failure message in the console's encoding.
#pragma once

#include "resfile/res_file.h"

#include <cstddef>

// Reads result file n from the working directory and returns its mesh.
// Ends the process with status 1 when the file cannot be opened (or n has no name): the
// open-failure message on standard output in the console's encoding, the reason on standard error.
// Ends it with status 1 and one "file:line: what" line on standard error when the file is
// malformed.
Mesh read_res(int n);

// The open-failure message in the encoding that the environment's locale (LC_ALL, LC_CTYPE, LANG)
// names, without touching the process's own locale: Shift-JIS, UTF-8, another encoding that can
// hold it, or UTF-8 when the locale names none. Writes at most cap bytes; returns the length.
std::size_t open_failure_message(char *out, std::size_t cap);
