// The view that puts a range of files into the picture: its translation chosen, in the viewer's
// projection, so that the box of every node of every file fills the picture with a small margin.
#pragma once

#include "command_line.h"
#include "draw.h"
#include "health.h"
#include "range.h"
#include "status.h"

#include <vector>

// The view as a program takes it: --rot-x, --rot-y, --tx, --ty, --tz, or --fit.
struct ViewChoice {
    View view;
    bool moved = false; // --tx, --ty or --tz given
    bool fit = false;   // --fit given
};

// The options that set c.
std::vector<Option> view_options(ViewChoice *c);

// What is wrong with c's options taken together ("" when nothing is).
std::string view_conflict(const ViewChoice &c);

// With --fit, chooses c's translation for the range in dir and prints it on standard output as
// options a later run takes ("view: --tx -230 --ty -100 --tz -259.27"). Nothing without it.
Status apply_fit(const char *dir, const Range &range, ViewChoice *c);

// The box of every node of the well-formed files of range in dir (nullptr: the working
// directory); missing and broken files are left out.
Extent range_extent(const char *dir, const Range &range);

// Sets v's tx, ty and tz so that e, turned by v's rot_x and rot_y, fills the picture with a margin
// of a twentieth on each side, for a picture of any size (the view is fixed, whatever its shape).
// An error when e is empty or lies too deep for the far plane.
Status fit_view(const Extent &e, View *v);
