// The view that puts a range of files into the picture: its translation chosen, in the viewer's
// projection, so that the box of every node of every file fills the picture with a small margin.
#pragma once

#include "draw.h"
#include "health.h"
#include "range.h"
#include "status.h"

// The box of every node of the well-formed files of range in dir (nullptr: the working
// directory); missing and broken files are left out.
Extent range_extent(const char *dir, const Range &range);

// Sets v's tx, ty and tz so that e, turned by v's rot_x and rot_y, fills the picture with a margin
// of a twentieth on each side, for a picture of any size (the view is fixed, whatever its shape).
// An error when e is empty or lies too deep for the far plane.
Status fit_view(const Extent &e, View *v);
