// What kept a result file from loading, as text. Standard C++ only.
#include "resfile/res_file.h"

#include <cstring>

std::string load_failure_text(const LoadResult &r)
{
    char line[RES_PATH_CAP + 256];
    switch (r.status) {
    case LoadStatus::LOADED: return "";
    case LoadStatus::NO_NAME:
        std::snprintf(line, sizeof line,
                      "no result file has index %d: the series runs from 0 to %d", r.index,
                      FILE_INDEX_MAX);
        break;
    case LoadStatus::MISSING:
    case LoadStatus::CANNOT_OPEN:
        std::snprintf(line, sizeof line, "cannot open %s: %s", r.path, std::strerror(r.errnum));
        break;
    case LoadStatus::NOT_REGULAR:
        std::snprintf(line, sizeof line, "cannot open %s: it is %s, not a regular file", r.path,
                      r.kind);
        break;
    case LoadStatus::UNREADABLE:
        std::snprintf(line, sizeof line, "cannot read %s: %s", r.path, std::strerror(r.errnum));
        break;
    case LoadStatus::MALFORMED: return res_error_text(r.path, r.fault);
    }
    return line;
}

std::string res_error_text(const char *file, const ResError &err)
{
    char line[RES_PATH_CAP + 256];
    if (err.column > 0)
        std::snprintf(line, sizeof line, "%s:%d:%d: %s", file, err.line, err.column, err.what);
    else
        std::snprintf(line, sizeof line, "%s:%d: %s", file, err.line, err.what);
    return line;
}
