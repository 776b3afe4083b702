// rescheck's report: what each file of a run shows, collapsed into one line for each stretch of
// files that show the same, and the run's summary.
#pragma once

#include "resfile/health.h"
#include "tools/common/series_loop.h"

#include <string>
#include <vector>

// What one well-formed file shows.
struct FileFindings {
    int n = 0;
    bool new_mesh = false; // its connectivity differs from the previous file's of the run
    int np = 0;
    int nele = 0;
    int reference = -1; // its reference's index
    int ninverted = 0;
    int first_inverted = -1; // element slot
    std::string inverted_at; // the first one's centroid, "(x, y)"
    int ndegenerate = 0;
    int first_degenerate = -1;
    std::string degenerate_at;
};

// The run's worst and widest, gathered file by file.
struct RunFindings {
    std::vector<FileFindings> files; // every well-formed file, in the order handled
    bool lines_printed = false;      // each file's lines were printed as it completed
    int first_inverted = -1;         // index of the first file with an inverted element
    bool degenerate = false;
    double worst_quality = 2.0;
    std::string worst_where;
    double largest_step = -1.0;
    std::string step_where;
    int max_np = 0;
    int max_nele = 0;
    Extent extent; // over every node of every file
};

// The lines that say what f shows: a new mesh, then its inverted and degenerate elements; none
// when it shows nothing.
std::vector<std::string> finding_lines(const FileFindings &f);

// The report's lines for the files of a run: each file's lines, or, unless verbose, one line for
// each stretch of files in a row that show the same (no broken file between them), in the place
// of its first file.
std::vector<std::string> collapsed_lines(const std::vector<FileFindings> &files,
                                         const SeriesLoop &loop, bool verbose);

// Prints the report of a run: the present, missing and unwritten indices, how far B and N reach
// from file 1, the counts, the extent, the reference, the findings and the run's worst.
void print_report(const SeriesLoop &loop, const RunFindings &found, bool verbose);

// "1 element", "3 elements".
std::string counted(int n, const char *noun);
