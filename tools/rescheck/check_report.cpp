#include "tools/rescheck/check_report.h"

#include <cstdio>

std::string counted(int n, const char *noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

namespace
{

// "3 elements inverted (first: element 149 at (1.2, 1.9))", the place left out when at is empty.
std::string kind_text(int count, const char *what, int first, const std::string &at)
{
    std::string s =
        counted(count, "element") + " " + what + " (first: element " + std::to_string(first + 1);
    return s + (at.empty() ? "" : " at " + at) + ")";
}

// What the elements of f show, places given when with_places; "" when nothing.
std::string elements_text(const FileFindings &f, bool with_places)
{
    std::string s;
    if (f.ninverted > 0)
        s = kind_text(f.ninverted, "inverted", f.first_inverted, with_places ? f.inverted_at : "");
    if (f.ndegenerate > 0)
        s += (s.empty() ? "" : "; ") + kind_text(f.ndegenerate, "degenerate (zero area)",
                                                 f.first_degenerate,
                                                 with_places ? f.degenerate_at : "");
    return s;
}

bool same_elements(const FileFindings &a, const FileFindings &b)
{
    return a.ninverted == b.ninverted && a.first_inverted == b.first_inverted &&
           a.ndegenerate == b.ndegenerate && a.first_degenerate == b.first_degenerate;
}

std::string new_mesh_line(const FileFindings &f)
{
    std::string s = std::string(res_file_name(f.n)) +
                    ": a new mesh starts: " + counted(f.np, "node") + ", " +
                    counted(f.nele, "element");
    if (f.reference != f.n)
        s += " (reference: " + std::string(res_file_name(f.reference)) + ")";
    return s;
}

bool broken_between(const SeriesLoop &loop, int a, int b)
{
    for (int k = a + 1; k < b; ++k)
        if (is_present(loop.state(k)) && loop.state(k) != FileState::GOOD)
            return true;
    return false;
}

// The stretches of indices up to last whose state passes `in`, as "0-417, 420-1010"; "none".
template <typename Pred> std::string ranges(const SeriesLoop &loop, int last, Pred in)
{
    std::string s;
    for (int n = 0; n <= last; ++n) {
        if (!in(loop.state(n)) || (n > 0 && in(loop.state(n - 1))))
            continue;
        int end = n;
        while (end < last && in(loop.state(end + 1)))
            ++end;
        s += (s.empty() ? "" : ", ") + std::to_string(n);
        if (end > n)
            s += "-" + std::to_string(end);
    }
    return s.empty() ? "none" : s;
}

} // namespace

std::vector<std::string> finding_lines(const FileFindings &f)
{
    std::vector<std::string> lines;
    if (f.new_mesh)
        lines.push_back(new_mesh_line(f));
    std::string elements = elements_text(f, true);
    if (!elements.empty())
        lines.push_back(std::string(res_file_name(f.n)) + ": " + elements);
    return lines;
}

std::vector<std::string> collapsed_lines(const std::vector<FileFindings> &files,
                                         const SeriesLoop &loop, bool verbose)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < files.size();) {
        const FileFindings &f = files[i];
        std::size_t j = i + 1;
        while (!verbose && j < files.size() && !files[j].new_mesh && same_elements(files[j], f) &&
               !broken_between(loop, files[j - 1].n, files[j].n))
            ++j;
        if (j == i + 1 || elements_text(f, false).empty()) {
            for (const auto &line : finding_lines(f))
                lines.push_back(line);
            i = i + 1;
            continue;
        }
        if (f.new_mesh)
            lines.push_back(new_mesh_line(f));
        lines.push_back(std::string(res_file_name(f.n)) + " .. " + res_file_name(files[j - 1].n) +
                        ": " + elements_text(f, false));
        i = j;
    }
    return lines;
}

namespace
{

// "present: 0-45; missing: 7; 46-1010 not written": the indices after the last present file are
// not written yet, which is not a gap.
void print_presence(const SeriesLoop &loop)
{
    const auto present = [](FileState s) { return is_present(s); };
    const auto missing = [](FileState s) { return s == FileState::MISSING; };
    int last_present = -1, first_unwritten = -1, last_unwritten = -1;
    for (int n = 0; n <= FILE_INDEX_MAX; ++n)
        last_present = present(loop.state(n)) ? n : last_present;
    for (int n = last_present + 1; n <= FILE_INDEX_MAX; ++n) {
        if (missing(loop.state(n))) {
            first_unwritten = first_unwritten < 0 ? n : first_unwritten;
            last_unwritten = n;
        }
    }
    std::printf("present: %s; missing: %s", ranges(loop, FILE_INDEX_MAX, present).c_str(),
                ranges(loop, last_present, missing).c_str());
    if (first_unwritten >= 0 && first_unwritten == last_unwritten)
        std::printf("; %d not written", first_unwritten);
    else if (first_unwritten >= 0)
        std::printf("; %d-%d not written", first_unwritten, last_unwritten);
    std::printf("\n");
}

// How far B and N reach from file 1 before the viewer ends.
void print_reach(const SeriesLoop &loop)
{
    if (loop.state(1) == FileState::GOOD) {
        int lo = 1, hi = 1;
        while (lo > 0 && loop.state(lo - 1) == FileState::GOOD)
            --lo;
        while (hi < FILE_INDEX_MAX && loop.state(hi + 1) == FileState::GOOD)
            ++hi;
        std::printf("from file 1, B and N reach %d-%d without ending the viewer\n", lo, hi);
    } else if (loop.state(1) != FileState::UNSEEN) {
        std::printf("file 1 is %s: the viewer ends at start-up\n",
                    loop.state(1) == FileState::MISSING      ? "missing"
                    : loop.state(1) == FileState::UNREADABLE ? "unreadable"
                                                             : "broken");
    }
}

} // namespace

void print_report(const SeriesLoop &loop, const RunFindings &found, bool verbose)
{
    print_presence(loop);
    print_reach(loop);
    const std::string unreadable =
        loop.unreadable() ? ", " + std::to_string(loop.unreadable()) + " unreadable" : "";
    std::printf("%s present, %d well formed, %d broken%s; largest: %s, %s\n",
                counted(loop.present(), "file").c_str(), loop.good(), loop.broken(),
                unreadable.c_str(), counted(found.max_np, "node").c_str(),
                counted(found.max_nele, "element").c_str());
    if (found.extent.any)
        std::printf("extent: x %.6g..%.6g, y %.6g..%.6g\n", found.extent.xmin, found.extent.xmax,
                    found.extent.ymin, found.extent.ymax);
    if (!found.files.empty())
        std::printf("reference: %s\n", res_file_name(found.files.front().reference));
    for (const auto &line : collapsed_lines(found.files, loop, verbose || found.lines_printed))
        if (!found.lines_printed)
            std::printf("%s\n", line.c_str());
    if (found.first_inverted >= 0)
        std::printf("first file with an inverted element: %s\n",
                    res_file_name(found.first_inverted));
    else if (!found.files.empty())
        std::printf("no element is inverted\n");
    if (!found.worst_where.empty())
        std::printf("worst quality: %.4g in %s\n", found.worst_quality, found.worst_where.c_str());
    if (!found.step_where.empty())
        std::printf("largest displacement from one file to the next: %.4g %s\n", found.largest_step,
                    found.step_where.c_str());
}
