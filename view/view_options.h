// The view as every program takes it on its command line, the viewer included: --rot-x, --rot-y,
// --tx, --ty, --tz, --centre, or --fit.
#pragma once

#include "command_line.h"
#include "draw.h"

#include <string>
#include <vector>

// The view options in a usage text.
inline constexpr char VIEW_USAGE[] =
    "  --rot-x DEG, --rot-y DEG, --tx X, --ty Y, --tz Z\n"
    "                 the view as the viewer holds it (defaults 0, 0, 0, 0, -15)\n"
    "  --centre X,Y   the point the mesh turns about, mesh units (default 0,0)\n";

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
