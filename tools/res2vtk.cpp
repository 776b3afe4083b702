// res2vtk: converts a result series into one time series that ParaView and every VTK reader
// open: a ParaView data collection (.pvd) naming each converted file with its time, and one VTK
// XML UnstructuredGrid file (.vtu) per result file in a folder beside it. Reads through the shared
// load path. The output is one unit: every file is written under a temporary name, and only when
// all are whole and durable are they renamed into place, the collection last; a run that fails or
// is stopped leaves the earlier output as it was.
#include "pvd_collection.h"
#include "series_health.h"
#include "series_tool.h"
#include "shared_usage.h"
#include "vtu_file.h"
#include "xml_text.h"

#include <charconv>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace
{

std::string usage()
{
    return std::string(
               "usage: res2vtk [OPTIONS] [DIR]\n"
               "Converts the result series in DIR (default: the working directory) into a "
               "ParaView time\n"
               "series: FILE.pvd and one VTK XML file per result file in the folder FILE beside "
               "it.\n"
               "  -o FILE.pvd    the collection (default series.pvd): series.pvd -> "
               "series/res0001.vtu\n"
               "  --dt SECONDS   time between files (default 1): file n is at n x SECONDS\n") +
           RANGE_USAGE +
           "  --ascii        arrays as text instead of raw binary\n"
           "  --follow       then go on converting files of the range as they are written, "
           "rewriting\n"
           "                 FILE.pvd after each, until SIGINT or SIGTERM\n" +
           POLL_IDLE_USAGE + END_OF_OPTIONS_USAGE +
           "A run that fails or is stopped leaves the earlier output as it was; a second run into "
           "the\n"
           "same FILE.pvd while one is writing it is refused.\n"
           "Exit status: 0 every present file of the range converted, 1 a broken file, none "
           "present,\n"
           "an output not written or FILE.pvd busy, 2 usage error, 128 + N when stopped by signal "
           "N.\n";
}

struct Options {
    CollectionPaths paths;
    std::string dt_digits = "1"; // the time step as written: digits x 10^dt_exp seconds
    long dt_exp = 0;
    bool ascii = false;
};

// Splits a decimal that parse_number accepted into its digits and decimal exponent, so that file
// n's time can be formed exactly before it is rounded once.
bool take_dt(const char *s, Options *o)
{
    double dt = 0;
    if (!parse_number(s, &dt) || dt <= 0 || !(dt * FILE_INDEX_MAX < 1e308))
        return false;
    std::string digits;
    long frac = 0;
    const char *p = s + (*s == '+');
    for (bool point = false; *p && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            point = true;
        } else {
            digits += *p;
            frac += point;
        }
    }
    long exp = 0;
    if (*p && std::from_chars(p + 1 + (p[1] == '+'), p + std::strlen(p), exp).ec != std::errc())
        return false;
    o->dt_digits = digits;
    o->dt_exp = exp - frac;
    return true;
}

// The time of file n, n x dt, as the shortest text that reads back as the double nearest it.
std::string time_of(const Options &o, int n)
{
    // The digits times n, exactly, then rounded once by from_chars.
    std::string product(o.dt_digits.size() + 5, '0');
    unsigned carry = 0;
    std::size_t k = product.size();
    for (std::size_t i = o.dt_digits.size(); i-- > 0;) {
        unsigned d = (unsigned)(o.dt_digits[i] - '0') * (unsigned)n + carry;
        product[--k] = (char)('0' + d % 10);
        carry = d / 10;
    }
    for (; carry > 0; carry /= 10)
        product[--k] = (char)('0' + carry % 10);
    product += "e" + std::to_string(o.dt_exp);
    double t = 0;
    std::from_chars(product.data(), product.data() + product.size(), t);
    char out[32];
    return std::string(out, std::to_chars(out, out + sizeof out, t).ptr);
}

std::vector<Option> own_options(Options *o)
{
    return {
        {"-o", Takes::PATH, "a file name ending in .pvd",
         [o](const char *v) {
             std::string pvd = v;
             std::size_t n = pvd.size();
             if (n < 4 || pvd.compare(n - 4, 4, ".pvd") != 0)
                 return false;
             o->paths.pvd = pvd;
             o->paths.folder = pvd.substr(0, n - 4);
             return true;
         }},
        {"--dt", Takes::NUMBER, "a number of seconds above 0",
         [o](const char *v) { return take_dt(v, o); }},
        flag_option("--ascii", &o->ascii),
    };
}

// What is wrong with -o: the folder's own name goes into the collection, so it must be a real
// name that XML can carry, and it must not be the series folder itself, whose files it would mix
// with the results. Sets the folder as the collection names it.
std::string check_output(Options *o, const char *dir)
{
    struct stat series, folder;
    if (stat(dir ? dir : ".", &series) == 0 && stat(o->paths.folder.c_str(), &folder) == 0 &&
        series.st_dev == folder.st_dev && series.st_ino == folder.st_ino)
        return "-o " + o->paths.pvd + " would put its .vtu files into the series folder " +
               (dir ? dir : ".") + " itself; give a collection whose name leaves another folder";
    std::string name = std::filesystem::path(o->paths.folder).filename().string();
    if (name.empty() || name == "." || name == "..")
        return "-o " + o->paths.pvd + ": the folder beside it would be \"" + name +
               "\"; give the collection a name before .pvd";
    if (const char *bad = xml_unfit(name))
        return std::string("-o: the collection cannot name its folder: ") + bad;
    o->paths.rel = name + "/";
    return "";
}

// Where the run's output went, for the summary.
std::string where(const Options &o, const SeriesTool &tool, bool whole, int in_place)
{
    if (whole)
        return o.paths.pvd + " with " + o.paths.folder + "/";
    if (in_place > 0)
        return "stopped early; " + o.paths.pvd + " names the " + std::to_string(in_place) +
               " files put in place before";
    if (!tool.failure().empty() || tool.loop().stopped_by())
        return "stopped early; " + o.paths.pvd + " left as it was";
    return "nothing written";
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    SeriesTool tool({"res2vtk", "converted"});
    if (!tool.start(argc, argv, own_options(&opt), usage(),
                    [&opt](const char *dir) { return check_output(&opt, dir); }))
        return tool.exit_status();
    Collection out(opt.paths);
    std::string warning;
    Status s = out.open(&warning);
    if (!warning.empty())
        tool.report().note(warning);
    if (!s.ok()) {
        tool.report().note(s.message());
        return 1;
    }
    std::string vtu;
    VtuWriter writer;
    SeriesHealth health(tool.dir());
    // A run puts its files in place at its end, all at once; a follow, once the files present
    // are converted and then after each file, so that a reload shows the new steps. A whole run
    // is made durable at once before the renames: one sync of the file system costs less than
    // one per file.
    const bool at_once = !tool.following();
    tool.run(
        [&](int n, const Mesh &mesh) {
            const Health &h = health.measure(n, mesh);
            const std::string time = time_of(opt, n);
            writer.text(mesh, h, time, opt.ascii, &vtu);
            Status st = out.stage(n, time, vtu, !at_once);
            if (!st.ok())
                return st;
            tool.report().set_written(tool.report().written() + 1);
            return at_once ? Status() : out.commit(false);
        },
        [&] { return out.any_staged() ? out.commit(true) : Status(); });
    bool whole = tool.whole();
    if (whole && at_once) {
        Status c = out.commit(true);
        tool.fail(c);
        whole = c.ok();
    }
    // Converted files count once they are in place.
    tool.report().set_written(out.in_place());
    return tool.finish(where(opt, tool, whole, out.in_place()));
}
