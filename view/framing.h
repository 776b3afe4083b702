// Where a mesh lands in the picture: the view that frames a box of nodes, and how much of a mesh a
// view shows. Geometry alone, in the viewer's projection; no OpenGL calls.
#pragma once

#include "resfile/health.h"
#include "resfile/range.h"
#include "util/status.h"
#include "view/draw.h"

#include <string>

// Below this share of its box inside the picture, a mesh is named as lying mostly outside it.
constexpr double MOSTLY_OUTSIDE = 0.5;

// The box of every node of the well-formed files of range in dir (nullptr: the working
// directory); missing and broken files are left out.
Extent range_extent(const char *dir, const Range &range);

// Sets v's centre to the middle of e and its translation so that e, turned about its middle by
// v's rot_x and rot_y, fills the picture with a margin of a twentieth on each side, for a picture
// of any size (the view is fixed, whatever its shape): tx and ty are then 0, so that the mesh
// turns in place. An error when e is empty or lies too deep for the far plane.
Status fit_view(const Extent &e, View *v);

// How much of m the view v shows: the share of the box of m's nodes, turned and projected, that
// lies inside the picture, times the share of nodes in front of the eye. 1 for a mesh wholly
// inside, for one whose box covers the whole picture, and for one without nodes; 0 for one
// wholly outside.
double share_inside(const Mesh &m, const View &v);

// "the mesh (x 0..120, y 0..40)" for box e.
std::string box_text(const Extent &e);

// "the mesh (x 0..120, y 0..40) lies mostly outside the picture" for box e and the share inside
// (share_inside), with "wholly" left out where nothing is inside; `picture` names what it lies
// outside of ("the picture", "the window").
std::string outside_text(const Extent &e, double share, const char *picture);
