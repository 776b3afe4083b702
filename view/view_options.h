// The view as every program takes it on its command line, the viewer included: --rot-x, --rot-y,
// --tx, --ty, --tz, --centre, or --fit.
#pragma once

#include "util/command_line.h"
#include "view/draw.h"

#include <string>
#include <vector>

// The view options in a usage text.
inline constexpr char VIEW_USAGE[] =
    "  --rot-x DEG, --rot-y DEG, --tx X, --ty Y, --tz Z\n"
    "                 the view as the viewer holds it (defaults 0, 0, 0, 0, -15)\n"
    "  --centre X,Y   the point the mesh turns about, mesh units (default 0,0)\n";

// The same in troff, for the man pages: --rot-x, --rot-y, --tx, --ty, --tz and --centre.
inline constexpr char VIEW_MAN[] = R"(.TP
.BI \-\-rot\-x " DEG" "\fR, \fP\-\-rot\-y " DEG
The turn about the x and y axes in degrees, as the viewer's drag and arrow keys set it
(default 0). The mesh is turned about y first, then about x.
.TP
.BI \-\-tx " X" "\fR, \fP\-\-ty " Y "\fR, \fP\-\-tz " Z
The translation, as the viewer's letter keys set it (defaults 0, 0 and \-15).
.TP
.BI \-\-centre " X,Y"
The point the mesh turns about, in its own units (default 0,0): a point p of the mesh is placed
at T(tx, ty, tz) \(md Rx(rot_x) \(md Ry(rot_y) \(md T(\-centre) \(md p, so that a drag turns the
mesh about that point. All seven values are held as single-precision floats, as the viewer
holds them.
)";

// A mesh mostly outside the picture, and --fit, for the man pages of the programs that draw.
inline constexpr char OUTSIDE_MAN[] =
    R"(A mesh whose nodes lie mostly outside the picture (less than half of the box of its nodes,
turned and projected, inside it; a mesh in millimetres where the view spans \-5 to 5, say) is
named once a run on standard error, with its box:
.PP
.nf
res0001.inp: the mesh (x 0..120, y 0..40) lies mostly outside the picture; try \-\-fit
.fi
.PP
(with "and N more files" after the first name where there are several). A mesh wholly inside
the picture, or one that fills it, is never named. The exit status stays as below.
)";

struct ViewChoice {
    View view;
    bool moved = false; // --tx, --ty, --tz or --centre given
    bool fit = false;   // --fit given
};

// The options that set c.
std::vector<Option> view_options(ViewChoice *c);

// What is wrong with c's options taken together ("" when nothing is).
std::string view_conflict(const ViewChoice &c);

// The options that place the model as v does, for a later run: "--centre 60,20 --tx 0 --ty 0
// --tz -259.27", each value read back bit for bit.
std::string placement_options(const View &v);
