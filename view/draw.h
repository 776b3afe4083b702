// What the viewer draws with, in OpenGL alone: the GL state, the projection, the frame and the
// mesh's outlines and points, as a display list or from arrays. A program without a window (the
// renderer) draws with the same calls.
#pragma once

#include "resfile/res_file.h"

#include <vector>

constexpr double NEAR_PLANE = 3.0;      // distance from the eye, mesh units
constexpr double FAR_PLANE = 10000.0;   // distance from the eye, mesh units
constexpr float MARK_POINT_SIZE = 3.0f; // pixels: a marked element's corners

// Where the model is placed: a point p is drawn at T(tx, ty, tz) . Rx(rot_x) . Ry(rot_y) . T(-c) .
// p, turned about the centre c = (cx, cy, 0). With the centre at the origin, as it starts, that is
// T(tx, ty, tz) . Rx(rot_x) . Ry(rot_y) . p, and no call is made for the centre.
struct View {
    float tx = 0.0f;    // mesh units
    float ty = 0.0f;    // mesh units
    float tz = -15.0f;  // mesh units: the mesh plane starts 15 units in front of the eye
    float rot_x = 0.0f; // degrees about x
    float rot_y = 0.0f; // degrees about y
    float cx = 0.0f;    // the point the model turns about, mesh units
    float cy = 0.0f;
};

// The window-independent GL state every picture relies on: depth test, blending and its function.
void init_gl_state();

// Sets the viewport to w x h and the fixed frustum (the picture stretches with the window).
void reshape(int w, int h);

// The frame around what is drawn: the buffers cleared, the model placed by v's translation and
// rotations; end_frame puts the model-view matrix back.
void begin_frame(const View &v);
void end_frame();
// begin_frame's second half: the model placed, without clearing.
void place_model(const View &v);

// The vertex and index arrays a mesh is drawn from, kept by their owner from frame to frame.
struct MeshArrays {
    std::vector<float> vert;       // x, y, 0 of each node slot
    std::vector<unsigned> outline; // two node slots a segment, three segments an element
};

// m's outlines and points in the viewer's red, drawn at once from arrays (one call for all
// outlines, one for all points) between begin_frame and end_frame: the same pixels as m's
// display list, in a fraction of the time for a large mesh.
void draw_mesh_arrays(const Mesh &m, MeshArrays *arrays);

// What is marked in yellow over a mesh: for each element, whether it is inverted and its area.
struct Marks {
    const unsigned char *inverted;
    const double *area;
};

// A whole frame of m in view v from arrays: begin_frame, draw_mesh_arrays, put_marks when marks
// are given, end_frame. Every red fragment is the same red, so the depth test can refuse one only
// where the pixel is red already or at the far plane's depth, which a mesh within half the far
// distance of the eye never reaches, however it is turned: there the frame is drawn without the
// test, the same pixels in less time.
void draw_mesh_frame(const Mesh &m, const View &v, MeshArrays *arrays,
                     const Marks *marks = nullptr);

// A new display list name, opened for compiling; 0 (and nothing opened) when OpenGL has no name
// to give.
unsigned int open_mesh_list();
// m's outlines and points into the open list, which it then closes.
void compile_mesh(const Mesh &m);
// The same without closing the list: m's outlines and points, each with its colour and
// begin/end pair, outlines first.
void put_mesh(const Mesh &m);
// Marks where m goes wrong, in yellow over m's outlines and points (into an open list, or at
// once): every element with inverted[e] set filled, and every inverted element and every one of
// area[e] exactly 0 drawn as its edges and as its corners MARK_POINT_SIZE pixels wide, so that
// the thinnest shows at any scale. Leaves the depth test on.
void put_marks(const Mesh &m, const Marks &marks);
