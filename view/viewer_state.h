// The viewer's one process-wide state record and the drawing that needs OpenGL alone: the GL
// state, the projection, the frame and the mesh's display list. A program without a window (the
// renderer) draws with the same calls; viewer.h adds the window and the input.
#pragma once

#include "res_file.h"

// Everything the callbacks share. Initial values are those of a fresh start.
struct ViewerState {
    float tx = 0.0f;     // translation along x, mesh units
    float ty = 0.0f;     // translation along y, mesh units
    float tz = -15.0f;   // translation along z: the mesh plane starts 15 units in front of the eye
    float rot_x = 0.0f;  // degrees about x, held within -90..90 while dragging
    float rot_y = 0.0f;  // degrees about y, unbounded
    float rot_x0 = 0.0f; // rot_x at the last left-button press, degrees
    float rot_y0 = 0.0f; // rot_y at the last left-button press, degrees
    int press_x = 0;     // pointer at the last left-button press, window pixels from the left
    int press_y = 0;     // window pixels from the top
    int file_no = 1;     // index of the result file shown; B and N move it without bounds
    unsigned int list_id = 0; // display list that display() replays, 0 before the first load
    Mesh mesh{};              // the mesh most recently loaded
};

extern ViewerState vs;

// The window-independent GL state every picture relies on: depth test, blending and its function.
void init_gl_state();

// Draws one frame from vs and the current display list into the current framebuffer:
// begin_frame, the list, end_frame.
void draw_frame();

// The frame around what is drawn: the buffers cleared, the model placed by vs's translation and
// rotations; end_frame puts the model-view matrix back.
void begin_frame();
void end_frame();

// begin_frame's second half: the model placed, without clearing.
void place_model();

// m's outlines and points in the viewer's red, drawn at once from arrays (one call for all
// outlines, one for all points) between begin_frame and end_frame: the same pixels as m's
// display list, in a fraction of the time for a large mesh.
void draw_mesh_arrays(const Mesh &m);

// A whole frame of m from arrays: begin_frame, draw_mesh_arrays, put_marks when inverted is
// given, end_frame. Without marks every fragment is the same red, so the depth test can refuse
// one only where the pixel is red already or at the far plane's depth, which a mesh within half
// the far distance of the eye never reaches, however it is turned: there the frame is drawn
// without the test, the same pixels in less time.
void draw_mesh_frame(const Mesh &m, const unsigned char *inverted = nullptr,
                     const double *area = nullptr);

// Sets the viewport to the window and the fixed frustum (the picture stretches with the window).
void reshape(int w, int h);

// A new display list name, opened for compiling; 0 (and nothing opened) when OpenGL has no name
// to give.
unsigned int open_mesh_list();
// m's outlines and points into the open list, which it then closes.
void compile_mesh(const Mesh &m);

// The same without closing the list: m's outlines and points, each with its colour and
// begin/end pair, outlines first.
void put_mesh(const Mesh &m);

// Marks where m goes wrong, in yellow, after m's outlines and points (into an open list, or at
// once): every element with inverted[e] set filled (behind the red lines, which stay visible),
// every element of area[e] exactly 0 drawn as its edges and corners over them.
void put_marks(const Mesh &m, const unsigned char *inverted, const double *area);

// Makes list id the one draw_frame replays (vs.list_id) and deletes the list it replaces.
void use_list(unsigned int id);
