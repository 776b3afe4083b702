// The result-file series: names, the Mesh record, the parser, the load path and what went wrong
// as text. Standard C++ and POSIX; nothing here may include OpenGL or GLUT, end the process or
// print: the caller decides what becomes of a failure.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

constexpr int MESH_CAPACITY = 4999;  // nodes and elements alike
constexpr int FILE_INDEX_MAX = 1010; // the series runs from index 0 to this one
constexpr int RES_PATH_CAP = 4096;   // longest path to a result file, with its NUL

// One result file in memory, filled by slot: node number k sits in slot k - 1.
struct Mesh {
    int np;                    // number of nodes, 0..MESH_CAPACITY
    int nele;                  // number of elements (triangles), 0..MESH_CAPACITY
    double x[MESH_CAPACITY];   // mesh units
    double y[MESH_CAPACITY];   // mesh units
    int ele[MESH_CAPACITY][3]; // 0-based node slots of each element's corners, in file order
};

// What made a file fail to parse, and where.
struct ResError {
    int line;       // 1-based line of the fault
    int column;     // 1-based column of the offending token, 0 when the line says enough
    char what[160]; // e.g. "element 5 names node 12, but the file has 10 nodes"
    int errnum; // errno of a read that failed (the fault is then no fault of the file's), else 0
};

// How loading one file of a series ended.
enum class LoadStatus {
    LOADED,      // the mesh is in the caller's record
    NO_NAME,     // the index lies outside 0..FILE_INDEX_MAX
    MISSING,     // there is no file of that name (errnum is ENOENT)
    CANNOT_OPEN, // the open failed; errnum says why
    NOT_REGULAR, // the name is a directory, FIFO, device or socket; kind says which
    UNREADABLE,  // the file opened but a read failed (EIO and its kin); errnum says why
    MALFORMED,   // the file was read but is not well formed; fault says where and why
};

struct LoadResult {
    LoadStatus status;
    int index;               // the index asked for
    int errnum;              // errno of a failed open, else 0
    const char *kind;        // what a NOT_REGULAR name is: "a directory", "a FIFO", ...
    ResError fault;          // the fault of a malformed file
    char path[RES_PATH_CAP]; // the path opened: "DIR/res0001.inp", or the name alone
};

// The file name for index n ("res0000.inp" .. "res0999.inp", "res01000.inp" .. "res01010.inp"),
// valid for the whole process; nullptr for an index outside 0..FILE_INDEX_MAX.
const char *res_file_name(int n);

// The index that a file name stands for ("res0001.inp" -> 1, "res01000.inp" -> 1000), or -1 for
// a name that res_file_name does not make.
int res_file_index(const char *name);

// When dir (nullptr: the working directory) holds no file of the series but files named like
// result files in another way (res1.inp, RES0001.INP, res001.inp), one sentence saying so and
// naming the naming expected; "" otherwise, and when dir cannot be read.
std::string naming_hint(const char *dir);

// Parses one result file from `in`, reading it to the last node record and no further.
// Clears *mesh first. Returns true for a well-formed file; otherwise false with the fault in *err
// (the mesh then holds what was read so far, always within the arrays); err->errnum is the errno
// of a read that failed, else 0.
bool parse_res(std::FILE *in, Mesh *mesh, ResError *err);

// The same for a file held in memory; `text` need not end with a NUL.
bool parse_res_text(const char *text, std::size_t len, Mesh *mesh, ResError *err);

// The same from the open descriptor fd, read with read(2); a read that fails gives err->errnum.
// With nonfinite, a coordinate may also be NaN or infinite ("nan", "inf", "-1e999"), as a
// comparison of two series must read a solver's output that went wrong.
bool parse_res_fd(int fd, Mesh *mesh, ResError *err, bool nonfinite = false);

// Names, opens and parses file n of the series in dir (the working directory when dir is
// nullptr) into *mesh, and says how it went. Only a regular file is read: a FIFO, device, socket
// or directory of that name is refused without blocking. nonfinite reads NaN and infinite
// coordinates as they are (see parse_res_fd). Never ends the process and prints nothing.
LoadResult load_res(const char *dir, int n, Mesh *mesh, bool nonfinite = false);

// Why r did not load, as one line without its line feed: "file:line: what" for a malformed file,
// "cannot open file: why" for one that could not be read, or the series' range for an index
// without a name. Empty for a loaded file.
std::string load_failure_text(const LoadResult &r);

// "file:line: what" (or "file:line:column: what") for err, without a line feed.
std::string res_error_text(const char *file, const ResError &err);
