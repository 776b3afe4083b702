// resdiff: compares two result series, a reference and a candidate, file by file of the same
// index: whether a change to the code that wrote them altered the results, and if so from which
// file on and where. Reads through the shared load path, byte-identical files without parsing;
// says it in a dozen lines, and for scripts and CI systems in JSON and JUnit XML; writes the
// candidate with its difference for ParaView. Exit status as diff(1)'s.
#include "resfile/series_health.h"
#include "tools/common/pvd_collection.h"
#include "tools/common/series_tool.h"
#include "tools/common/shared_usage.h"
#include "tools/common/stop_signals.h"
#include "tools/common/vtu_file.h"
#include "tools/common/whole_file.h"
#include "tools/common/xml_text.h"
#include "tools/resdiff/compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{

std::string usage()
{
    return std::string(
               "usage: resdiff [OPTIONS] REFERENCE CANDIDATE\n"
               "Compares two result series file by file of the same index: the structure "
               "exactly, the\n"
               "coordinates by |a - b| > max(atol, rtol * max(|a|, |b|)).\n"
               "  --atol X       absolute tolerance, mesh units; or Xdiag, a share of each "
               "reference\n"
               "                 file's box diagonal (default 1e-10diag)\n"
               "  --rtol X       relative tolerance (default 0)\n"
               "  --nan-equal    NaN (or the same infinity) on both sides at the same place "
               "is equal\n"
               "  --verbose      a line for each file that differs\n"
               "  --json FILE    the facts of every file as one JSON document\n"
               "  --junit FILE   one test case a file, as JUnit XML\n"
               "  --vtk OUT.pvd  the candidate as res2vtk writes it, with the difference as "
               "point data\n") +
           RANGE_USAGE + "  --follow       compare the candidate's files as they are written\n" +
           POLL_IDLE_USAGE + "  --stop-at-first  end at the first file that differs\n" +
           END_OF_OPTIONS_USAGE +
           "Exit status: 0 the same within the tolerances, 1 different (values, structure, missing "
           "files\n"
           "or values not finite), 2 trouble (usage, a broken or unreadable file, an output not "
           "written),\n"
           "128 + N when stopped by signal N.\n";
}

struct Options {
    Tolerance tol;
    bool verbose = false;
    bool stop_at_first = false;
    const char *json = nullptr;
    const char *junit = nullptr;
    bool vtk = false;
    CollectionPaths vtk_paths;
};

std::vector<Option> own_options(Options *o)
{
    return {
        {"--atol", Takes::NUMBER,
         "a number of mesh units, or a share of the box diagonal (1e-9diag)",
         [o](const char *v) {
             std::string text = v;
             const bool diag = text.size() > 4 && text.compare(text.size() - 4, 4, "diag") == 0;
             if (diag)
                 text.resize(text.size() - 4);
             o->tol.atol_of_diagonal = diag;
             return parse_number(text.c_str(), &o->tol.atol) && o->tol.atol >= 0;
         }},
        {"--rtol", Takes::NUMBER, "a number from 0",
         [o](const char *v) { return parse_number(v, &o->tol.rtol) && o->tol.rtol >= 0; }},
        flag_option("--nan-equal", &o->tol.nan_equal),
        flag_option("--verbose", &o->verbose),
        flag_option("--stop-at-first", &o->stop_at_first),
        path_option("--json", "a file name", &o->json),
        path_option("--junit", "a file name", &o->junit),
        noted(collection_option("--vtk", &o->vtk_paths), &o->vtk),
    };
}

// "(1.25, -0.4)", to nine digits; "nan" and "inf" as such.
std::string place(double x, double y)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "(%.9g, %.9g)", x, y);
    return buf;
}

std::string number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

// "300, 400-410": indices as stretches.
std::string stretches(const std::vector<int> &indices)
{
    std::string s;
    for (std::size_t i = 0; i < indices.size();) {
        std::size_t j = i;
        while (j + 1 < indices.size() && indices[j + 1] == indices[j] + 1)
            ++j;
        s += (s.empty() ? "" : ", ") + std::to_string(indices[i]);
        if (j > i)
            s += "-" + std::to_string(indices[j]);
        i = j + 1;
    }
    return s;
}

// What a pair shows, for a line: its structure, its values not finite, or its largest move.
std::string finding(const PairResult &r)
{
    if (!r.structure.empty())
        return r.structure;
    if (r.nflipped > 0)
        return std::to_string(r.nflipped) + " element" + (r.nflipped > 1 ? "s" : "") +
               " with the corners in reversed order, turned over (first: element " +
               std::to_string(r.first_flipped + 1) + ")";
    if (r.nonfinite > 0)
        return std::to_string(r.nonfinite) + " value" + (r.nonfinite > 1 ? "s" : "") +
               " not finite (first: node " + std::to_string(r.first_nonfinite + 1) + ")";
    const NodeDelta &l = r.largest;
    std::string s = "node " + std::to_string(l.node + 1) + " " + place(l.ref_x, l.ref_y) +
                    " in the reference, " + place(l.cand_x, l.cand_y) + " in the candidate: |d| " +
                    number(l.delta);
    if (l.shortest_edge > 0)
        s += ", " + number(l.delta / l.shortest_edge) + " of its shortest edge";
    return s;
}

// The facts of a run: each file's pair, and what lacks on either side.
struct Findings {
    std::map<int, PairResult> pairs; // the last comparison of each index
    std::vector<int> reference_lacks;
    std::vector<int> candidate_lacks;     // gaps of the candidate
    std::vector<int> candidate_unwritten; // after its last file
    std::vector<std::string> trouble;     // broken or unreadable files, of either side

    bool differ() const
    {
        if (!reference_lacks.empty() || !candidate_lacks.empty() || !candidate_unwritten.empty())
            return true;
        return std::any_of(pairs.begin(), pairs.end(),
                           [](const auto &p) { return p.second.differ(); });
    }
};

// The indices of range whose files are in dir.
std::vector<bool> present_in(const char *dir, const Range &range)
{
    std::vector<bool> present(FILE_INDEX_MAX + 1);
    if (DIR *d = opendir(dir)) {
        while (const dirent *e = readdir(d)) {
            const int n = res_file_index(e->d_name);
            if (n >= 0 && range.contains(n))
                present[(std::size_t)n] = true;
        }
        closedir(d);
    }
    return present;
}

// Who lacks what: the reference files the candidate lacks, kept apart after its last file, and
// the candidate files the reference lacks.
void note_lacking(const SeriesLoop &loop, const char *reference, Findings *f)
{
    const Range &r = loop.range();
    const std::vector<bool> ref = present_in(reference, r);
    int last = -1;
    for (int n = r.first; n <= r.last; n += r.every)
        last = is_present(loop.state(n)) ? n : last;
    for (int n = r.first; n <= r.last; n += r.every) {
        const FileState s = loop.state(n);
        if (ref[(std::size_t)n] && s == FileState::MISSING)
            (n > last ? f->candidate_unwritten : f->candidate_lacks).push_back(n);
        if (!ref[(std::size_t)n] && is_present(s))
            f->reference_lacks.push_back(n);
    }
}

// The report: the verdict first, then at most a dozen lines.
void print_report(const Options &o, const Findings &f, const std::vector<std::string> &dirs)
{
    std::vector<int> compared;
    const PairResult *first = nullptr, *largest = nullptr, *most = nullptr, *needs = nullptr;
    long nodes = 0, ndiffer = 0;
    int nfiles_differ = 0;
    double atol_lo = -1, atol_hi = -1;
    for (const auto &p : f.pairs) {
        const PairResult &r = p.second;
        compared.push_back(r.n);
        nodes += r.np;
        ndiffer += r.ndiffer;
        nfiles_differ += r.ndiffer > 0;
        if (r.differ() && !first)
            first = &r;
        if (r.largest.node >= 0 && (!largest || r.largest.delta > largest->largest.delta))
            largest = &r;
        if (r.ndiffer > 0 && (!most || r.ndiffer > most->ndiffer))
            most = &r;
        if (!needs || r.needed_atol > needs->needed_atol)
            needs = &r;
        if (!r.same_bytes) {
            atol_lo = atol_lo < 0 ? r.atol : std::min(atol_lo, r.atol);
            atol_hi = std::max(atol_hi, r.atol);
        }
    }
    std::printf("%s\n", f.differ() ? "different" : "same");
    std::string atol = number(o.tol.atol);
    if (o.tol.atol_of_diagonal)
        atol += " of each reference file's box diagonal" +
                (atol_lo < 0 ? std::string()
                             : " (" + number(atol_lo) +
                                   (number(atol_hi) != number(atol_lo) ? ".." + number(atol_hi)
                                                                       : std::string()) +
                                   " mesh units)");
    std::printf("rule: |a - b| > max(atol, rtol * max(|a|, |b|)) with atol %s, rtol %s%s\n",
                atol.c_str(), number(o.tol.rtol).c_str(),
                o.tol.nan_equal ? "; NaN and infinities equal where both hold them" : "");
    std::printf("compared: %d file%s%s%s of %s and %s\n", (int)compared.size(),
                compared.size() == 1 ? "" : "s", compared.empty() ? "" : ", ",
                stretches(compared).c_str(), dirs[0].c_str(), dirs[1].c_str());
    if (!f.candidate_lacks.empty() || !f.candidate_unwritten.empty()) {
        std::string s = "candidate lacks ";
        if (!f.candidate_lacks.empty())
            s += stretches(f.candidate_lacks);
        if (!f.candidate_unwritten.empty())
            s += (f.candidate_lacks.empty() ? "" : "; ") + stretches(f.candidate_unwritten) +
                 " after its last file";
        std::printf("%s\n", s.c_str());
    }
    if (!f.reference_lacks.empty())
        std::printf("reference lacks %s\n", stretches(f.reference_lacks).c_str());
    if (first)
        std::printf("first difference: %s, %s\n", res_file_name(first->n), finding(*first).c_str());
    if (largest) {
        const NodeDelta &l = largest->largest;
        std::printf(
            "largest difference: %s, node %d: |d| %s%s\n", res_file_name(largest->n), l.node + 1,
            number(l.delta).c_str(),
            l.shortest_edge > 0
                ? (", " + number(l.delta / l.shortest_edge) + " of its shortest edge").c_str()
                : "");
    }
    if (!compared.empty())
        std::printf("nodes that differ: %ld of %ld in %d file%s (%d with any)%s\n", ndiffer, nodes,
                    (int)compared.size(), compared.size() == 1 ? "" : "s", nfiles_differ,
                    most ? ("; the most, " + std::to_string(most->ndiffer) + " of " +
                            std::to_string(most->np) + " in " + res_file_name(most->n))
                               .c_str()
                         : "");
    if (needs)
        std::printf("smallest atol that passes: %s mesh units%s\n",
                    number(needs->needed_atol).c_str(),
                    needs->needed_atol > 0 && needs->diagonal > 0
                        ? (", " + number(needs->needed_atol / needs->diagonal) + "diag in " +
                           res_file_name(needs->n))
                              .c_str()
                        : "");
    if (o.verbose)
        for (const auto &p : f.pairs)
            if (p.second.differ())
                std::printf("%s: %s\n", res_file_name(p.first), finding(p.second).c_str());
    std::fflush(stdout);
}

// A JSON number; null for what JSON cannot hold.
std::string json_number(double v)
{
    if (!std::isfinite(v))
        return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string json_string(const std::string &s)
{
    std::string j = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            j += '\\';
        if ((unsigned char)c < 0x20) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", (unsigned)(unsigned char)c);
            j += u;
            continue;
        }
        j += c;
    }
    return j + "\"";
}

std::string json_list(const std::vector<int> &v)
{
    std::string s = "[";
    for (std::size_t i = 0; i < v.size(); ++i)
        s += (i ? ", " : "") + std::to_string(v[i]);
    return s + "]";
}

// The facts of every file as one JSON document.
std::string json_document(const Options &o, const Findings &f)
{
    std::string j = "{\n  \"verdict\": " + json_string(f.differ() ? "different" : "same") +
                    ",\n  \"rule\": {\"atol\": " + json_number(o.tol.atol) +
                    ", \"atol_of_diagonal\": " + (o.tol.atol_of_diagonal ? "true" : "false") +
                    ", \"rtol\": " + json_number(o.tol.rtol) +
                    ", \"nan_equal\": " + (o.tol.nan_equal ? "true" : "false") + "},\n" +
                    "  \"reference_lacks\": " + json_list(f.reference_lacks) +
                    ",\n  \"candidate_lacks\": " + json_list(f.candidate_lacks) +
                    ",\n  \"candidate_not_written\": " + json_list(f.candidate_unwritten) +
                    ",\n  \"files\": [";
    double needed = 0;
    bool firstf = true;
    for (const auto &p : f.pairs) {
        const PairResult &r = p.second;
        needed = std::max(needed, r.needed_atol);
        j += std::string(firstf ? "\n" : ",\n") + "    {\"index\": " + std::to_string(r.n) +
             ", \"name\": " + json_string(res_file_name(r.n)) +
             ", \"verdict\": " + json_string(r.differ() ? "different" : "same") +
             ", \"same_bytes\": " + (r.same_bytes ? "true" : "false") +
             ", \"nodes\": " + std::to_string(r.np) + ", \"elements\": " + std::to_string(r.nele) +
             ", \"nodes_differ\": " + std::to_string(r.ndiffer) +
             ", \"not_finite\": " + std::to_string(r.nonfinite) +
             ", \"flipped\": " + std::to_string(r.nflipped) +
             ", \"structure\": " + (r.structure.empty() ? "null" : json_string(r.structure)) +
             ", \"atol\": " + json_number(r.atol) + ", \"largest\": ";
        const NodeDelta &l = r.largest;
        j += l.node < 0
                 ? "null"
                 : "{\"node\": " + std::to_string(l.node + 1) + ", \"reference\": [" +
                       json_number(l.ref_x) + ", " + json_number(l.ref_y) + "], \"candidate\": [" +
                       json_number(l.cand_x) + ", " + json_number(l.cand_y) +
                       "], \"delta\": " + json_number(l.delta) + ", \"of_shortest_edge\": " +
                       (l.shortest_edge > 0 ? json_number(l.delta / l.shortest_edge) : "null") +
                       "}";
        j += "}";
        firstf = false;
    }
    return j + "\n  ],\n  \"smallest_passing_atol\": " + json_number(needed) + "\n}\n";
}

// One test case a file, and one for each file one side lacks, as JUnit XML.
std::string junit_document(const Findings &f, const std::string &candidate)
{
    std::string cases;
    int tests = 0, failures = 0;
    const auto test = [&](int n, const std::string &failure) {
        ++tests;
        cases += "    <testcase classname=\"resdiff." + xml_escaped(candidate) + "\" name=\"" +
                 res_file_name(n) + "\"";
        if (failure.empty()) {
            cases += "/>\n";
            return;
        }
        ++failures;
        cases += ">\n      <failure message=\"" + xml_escaped(failure) + "\"/>\n    </testcase>\n";
    };
    for (const auto &p : f.pairs)
        test(p.first, p.second.differ() ? finding(p.second) : "");
    for (int n : f.candidate_lacks)
        test(n, "the candidate lacks it");
    for (int n : f.candidate_unwritten)
        test(n, "the candidate lacks it, after its last file");
    for (int n : f.reference_lacks)
        test(n, "the reference lacks it");
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites tests=\"" +
           std::to_string(tests) + "\" failures=\"" + std::to_string(failures) +
           "\">\n  <testsuite name=\"resdiff\" tests=\"" + std::to_string(tests) +
           "\" failures=\"" + std::to_string(failures) + "\">\n" + cases +
           "  </testsuite>\n</testsuites>\n";
}

// The pairs of a run, compared as the candidate's files come; the candidate's files written with
// their difference for ParaView when asked.
class Comparer
{
  public:
    Comparer(const Options &o, SeriesTool *tool, Collection *vtk)
        : o_(o), tool_(*tool), reference_(tool->dirs()[0]), candidate_(tool->dirs()[1]), vtk_(vtk),
          health_(candidate_)
    {
    }

    Status take(int n, const Mesh &cand)
    {
        // Files of the same bytes are the same, whatever they hold: no parse of the reference.
        PairResult p;
        if (same_bytes(std::string(reference_) + "/" + res_file_name(n),
                       std::string(candidate_) + "/" + res_file_name(n))) {
            *ref_ = cand;
            p.n = n;
            p.same_bytes = true;
            p.np = cand.np;
            p.nele = cand.nele;
            // NaN and infinities differ even from themselves, unless asked otherwise.
            for (int i = 0; !o_.tol.nan_equal && i < cand.np; ++i) {
                const int values = !std::isfinite(cand.x[i]) + !std::isfinite(cand.y[i]);
                if (values > 0 && p.nonfinite == 0)
                    p.first_nonfinite = i;
                p.nonfinite += values;
            }
        } else {
            LoadResult r = load_res(reference_, n, ref_.get(), true);
            if (r.status == LoadStatus::MISSING) {
                findings_.pairs.erase(n);
                return Status();
            }
            if (r.status != LoadStatus::LOADED) {
                findings_.trouble.push_back(load_failure_text(r));
                tool_.report().fault(findings_.trouble.back());
                return Status();
            }
            p = compare_pair(n, *ref_, cand, o_.tol);
        }
        findings_.pairs[n] = p;
        tool_.wrote(n);
        if (p.differ() && o_.stop_at_first)
            tool_.loop().end_after_this();
        return vtk_ ? write_vtu(n, cand, p) : Status();
    }

    Findings &findings()
    {
        return findings_;
    }

  private:
    // The candidate as res2vtk writes it, with the difference from the reference at each node
    // where the structure allows one.
    Status write_vtu(int n, const Mesh &cand, const PairResult &p)
    {
        const Health &h = health_.measure(n, cand);
        std::vector<NodeField> more;
        if (p.structure.empty()) {
            diff_.assign(3 * (std::size_t)cand.np, 0.0);
            length_.assign((std::size_t)cand.np, 0.0);
            for (int i = 0; i < cand.np; ++i) {
                diff_[3 * (std::size_t)i] = cand.x[i] - ref_->x[i];
                diff_[3 * (std::size_t)i + 1] = cand.y[i] - ref_->y[i];
                length_[(std::size_t)i] =
                    std::hypot(diff_[3 * (std::size_t)i], diff_[3 * (std::size_t)i + 1]);
            }
            more = {{"difference", 3, diff_.data()}, {"difference_length", 1, length_.data()}};
        }
        writer_.text(cand, h, std::to_string(n), false, &vtu_, more);
        return vtk_->add(n, std::to_string(n), vtu_);
    }

    const Options &o_;
    SeriesTool &tool_;
    const char *reference_;
    const char *candidate_;
    Collection *vtk_;
    Findings findings_;
    std::unique_ptr<Mesh> ref_ = std::make_unique<Mesh>();
    SeriesHealth health_;
    VtuWriter writer_;
    std::string vtu_;
    std::vector<double> diff_, length_;
};

int resdiff(int argc, char **argv)
{
    Options opt;
    SeriesTool tool({"resdiff", "compared", "files/s", 2, 2});
    if (!tool.start(argc, argv, own_options(&opt), usage(), [&opt](const char *dir) {
            return opt.vtk ? check_collection("--vtk", &opt.vtk_paths, dir) : std::string();
        }))
        return tool.exit_status() == 1 ? 2 : tool.exit_status();
    const std::vector<std::string> dirs(tool.dirs().begin(), tool.dirs().end());
    tool.loop().keep_nonfinite();
    std::unique_ptr<Collection> vtk;
    if (opt.vtk) {
        vtk = std::make_unique<Collection>(opt.vtk_paths);
        std::string warning;
        Status s = vtk->open(&warning);
        if (!warning.empty())
            tool.report().note(warning);
        if (!s.ok()) {
            tool.report().note(s.message());
            return 2;
        }
    }
    Comparer comparer(opt, &tool, vtk.get());
    tool.run([&](int n, const Mesh &cand) { return comparer.take(n, cand); });
    Findings &f = comparer.findings();
    note_lacking(tool.loop(), dirs[0].c_str(), &f);
    for (int n = 0; n <= FILE_INDEX_MAX; ++n)
        if (tool.loop().state(n) == FileState::BROKEN ||
            tool.loop().state(n) == FileState::UNREADABLE)
            f.trouble.push_back(tool.loop().fault(n));
    print_report(opt, f, dirs);
    if (vtk && vtk->any() && tool.loop().stopped_by() == 0)
        tool.fail(vtk->commit());
    if (vtk)
        tool.fail(vtk->discard());
    const auto write = [&tool](const char *path, const std::string &text) {
        Status s = open_output_file(path);
        tool.fail(s.ok() ? write_whole_file(path, text.data(), text.size()) : s);
    };
    if (opt.json)
        write(opt.json, json_document(opt, f));
    if (opt.junit)
        write(opt.junit, junit_document(f, dirs[1]));
    return tool.end_with(!f.trouble.empty() ? 2 : f.differ() ? 1 : 0);
}

} // namespace

int main(int argc, char **argv)
{
    return exit_status_or_signal(resdiff(argc, argv));
}
