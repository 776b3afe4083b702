// res2vtk: converts a result series into one time series that ParaView and every VTK reader
// open: a ParaView data collection (.pvd) naming each converted file with its time, and one VTK
// XML UnstructuredGrid file (.vtu) per result file in a folder beside it. Reads through the shared
// load path. The output is one unit (see pvd_collection.h): the new files under names no
// collection names yet, then the collection in one rename, then the files it no longer names
// removed; a run that fails or is stopped leaves the earlier output as it was.
#include "resfile/series_health.h"
#include "tools/common/series_time.h"
#include "tools/common/series_tool.h"
#include "tools/common/shared_usage.h"
#include "tools/common/stop_signals.h"
#include "tools/common/xml_text.h"
#include "tools/res2vtk/pvd_collection.h"
#include "tools/res2vtk/vtu_file.h"

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
    TimeStep dt;
    bool ascii = false;
};

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
        dt_option(&o->dt),
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
std::string where(const Options &o, const SeriesTool &tool, bool committed, int in_place)
{
    if (committed && tool.failure().empty())
        return o.paths.pvd + " with " + o.paths.folder + "/";
    if (committed)
        return "stopped early; " + o.paths.pvd + " names the " + std::to_string(in_place) +
               " files converted before";
    if (!tool.failure().empty() || tool.loop().stopped_by())
        return "stopped early; " + o.paths.pvd + " and the files it names left as they were";
    return "nothing written";
}

int res2vtk(int argc, char **argv)
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
    bool committed = false;
    // A collection names each converted file, and keeps the earlier conversion of a file that
    // could not be read this time.
    const auto commit = [&] {
        for (int n = 0; n <= FILE_INDEX_MAX; ++n)
            if (tool.loop().state(n) == FileState::UNREADABLE)
                out.keep(n);
        Status c = out.commit();
        committed = committed || c.ok();
        return c;
    };
    // A run replaces the collection at its end; a follow, once the files present are converted
    // and then after each file, so that a reload shows the new steps.
    tool.run(
        [&](int n, const Mesh &mesh) {
            const Health &h = health.measure(n, mesh);
            const std::string time = opt.dt.time_of(n);
            writer.text(mesh, h, time, opt.ascii, &vtu);
            Status st = out.add(n, time, vtu);
            return st.ok() && tool.following() ? commit() : st;
        },
        [&] { return out.any() ? commit() : Status(); });
    if (tool.whole() && !tool.following())
        tool.fail(commit());
    // What a run that failed or was stopped wrote goes again; the collection in place stays.
    Status discarded = out.discard();
    if (!discarded.ok())
        tool.report().note(discarded.message());
    tool.fail(discarded);
    // Converted files count once their collection is in place.
    const std::vector<int> in_place = out.in_place();
    for (int n : committed ? in_place : std::vector<int>{})
        tool.wrote(n);
    return tool.end(where(opt, tool, committed, (int)in_place.size()));
}

} // namespace

int main(int argc, char **argv)
{
    return exit_status_or_signal(res2vtk(argc, argv));
}
