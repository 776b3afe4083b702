// The viewer's command line: its own options, read by the programs' one command line, beside the
// window-system options that GLUT takes.
#include "view/framing.h"
#include "view/viewer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

std::string usage()
{
    return std::string(
               "usage: resview [OPTIONS] [X OPTIONS] [DIR]\n"
               "Shows the result series res0000.inp .. res01010.inp in DIR (default: the working\n"
               "directory): drag or the arrow keys turn the mesh, Z/C, S/X and A/D move it, N and "
               "B\n"
               "step through the series (10 files with Shift), Q or ESC quits.\n"
               "  --file N       the file shown first, 0..1010 (default 1)\n") +
           VIEW_USAGE +
           "  --fit          --centre, --tx, --ty and --tz chosen so that every file in DIR fills\n"
           "                 the window: a series in other units (millimetres, say) in one step\n"
           "  --             ends the options: a DIR that begins with '-' follows\n"
           "X options go to the window system: -display DISPLAY, -geometry WxH+X+Y, -iconic,\n"
           "-direct, -indirect, -sync, -gldebug.\n";
}

// The options GLUT's own start-up takes, with a value or without.
bool glut_takes_value(const char *arg)
{
    return std::strcmp(arg, "-display") == 0 || std::strcmp(arg, "-geometry") == 0;
}

bool glut_flag(const char *arg)
{
    const char *const flags[] = {"-iconic", "-direct", "-indirect", "-sync", "-gldebug"};
    return std::any_of(std::begin(flags), std::end(flags),
                       [arg](const char *f) { return std::strcmp(arg, f) == 0; });
}

[[noreturn]] void refuse(const std::string &what)
{
    std::exit(usage_error("resview", what));
}

} // namespace

bool geometry_size(const char *geometry, int *w, int *h)
{
    // [=][W{xX}H][{+-}X{+-}Y], as the X library reads it; only the size matters here.
    const char *p = geometry + (*geometry == '=');
    if (*p == '+' || *p == '-' || *p == '\0')
        return false;
    char *end = nullptr;
    long wl = std::strtol(p, &end, 10);
    if (end == p || (*end != 'x' && *end != 'X'))
        return false;
    p = end + 1;
    long hl = std::strtol(p, &end, 10);
    if (end == p || (*end != '\0' && *end != '+' && *end != '-') || wl < 1 || hl < 1 ||
        wl > 32767 || hl > 32767)
        return false;
    *w = (int)wl;
    *h = (int)hl;
    return true;
}

ViewerArgs take_own_arguments(int *argc, char **argv)
{
    ViewerArgs a;
    std::vector<char *> own = {argv[0]};
    int kept = 1;
    bool options = true;
    for (int i = 1; i < *argc; ++i) {
        char *arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
            own.push_back(arg);
        } else if (options && glut_takes_value(arg)) {
            if (i + 1 == *argc)
                refuse(std::string(arg) + " takes a value, and none was given");
            if (std::strcmp(arg, "-geometry") == 0)
                geometry_size(argv[i + 1], &a.window_w, &a.window_h);
            argv[kept++] = argv[i++];
            argv[kept++] = argv[i];
        } else if (options && glut_flag(arg)) {
            argv[kept++] = arg;
        } else {
            own.push_back(arg);
        }
    }
    argv[kept] = nullptr;
    *argc = kept;

    std::vector<Option> opts = {int_option("--file", 0, FILE_INDEX_MAX, &a.file_no)};
    for (auto &o : view_options(&a.view))
        opts.push_back(o);
    CommandLine cl = read_command_line((int)own.size(), own.data(), opts);
    if (cl.help) {
        std::fputs(usage().c_str(), stdout);
        std::exit(0);
    }
    std::string error = cl.error.empty() ? view_conflict(a.view) : cl.error;
    if (!error.empty())
        refuse(error);
    // The series is read as if the viewer had been started in it.
    if (cl.dir && chdir(cl.dir) != 0) {
        std::fprintf(stderr, "resview: cannot enter %s: %s\n", cl.dir, std::strerror(errno));
        std::exit(1);
    }
    return a;
}

void apply_arguments(const ViewerArgs &a)
{
    View v = a.view.view;
    if (a.view.fit) {
        // Every file present, so that stepping through the series keeps the mesh in view. With
        // no node to fit, the load of the first file says what is wrong.
        Extent e = range_extent(nullptr, Range{});
        Status s = e.any ? fit_view(e, &v) : Status();
        if (!s.ok()) {
            std::fprintf(stderr, "resview: %s\n", s.message().c_str());
            std::exit(1);
        }
    }
    vs.file_no = a.file_no;
    vs.tx = v.tx;
    vs.ty = v.ty;
    vs.tz = v.tz;
    vs.rot_x = v.rot_x;
    vs.rot_y = v.rot_y;
    vs.cx = v.cx;
    vs.cy = v.cy;
}
