// res2vtk: converts a result series into one time series that ParaView and every VTK reader
// open: a ParaView data collection (.pvd) naming each converted file with its time, and one VTK
// XML UnstructuredGrid file (.vtu) per result file in a folder beside it. Reads through the shared
// load path. The output is one unit (see pvd_collection.h): the new files under names no
// collection names yet, then the collection in one rename, then the files it no longer names
// removed; a run that fails or is stopped leaves the earlier output as it was.
#include "resfile/series_health.h"
#include "tools/common/pvd_collection.h"
#include "tools/common/series_time.h"
#include "tools/common/series_tool.h"
#include "tools/common/shared_usage.h"
#include "tools/common/stop_signals.h"
#include "tools/common/vtu_file.h"
#include "tools/common/xml_text.h"

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
        collection_option("-o", &o->paths),
        dt_option(&o->dt),
        flag_option("--ascii", &o->ascii),
    };
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
                    [&opt](const char *dir) { return check_collection("-o", &opt.paths, dir); }))
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
