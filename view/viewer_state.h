// The viewer's one process-wide state record, and the frame and display list drawn from it.
#pragma once

#include "view/draw.h"

// Everything the callbacks share. Initial values are those of a fresh start.
struct ViewerState {
    float tx = 0.0f;     // translation along x, mesh units
    float ty = 0.0f;     // translation along y, mesh units
    float tz = -15.0f;   // translation along z: the mesh plane starts 15 units in front of the eye
    float rot_x = 0.0f;  // degrees about x, held within -90..90 while dragging
    float rot_y = 0.0f;  // degrees about y, unbounded
    float cx = 0.0f;     // the point the mesh turns about, mesh units; the origin unless --fit
    float cy = 0.0f;     //   or --centre set it at start-up
    float rot_x0 = 0.0f; // rot_x at the last left-button press, degrees
    float rot_y0 = 0.0f; // rot_y at the last left-button press, degrees
    int press_x = 0;     // pointer at the last left-button press, window pixels from the left
    int press_y = 0;     // window pixels from the top
    int file_no = 1;     // index of the result file shown; B and N move it without bounds
    unsigned int list_id = 0; // display list that display() replays, 0 before the first load
    Mesh mesh{};              // the mesh most recently loaded
};

extern ViewerState vs;

// The view that vs holds.
View view_of(const ViewerState &s);

// Draws one frame from vs and the current display list into the current framebuffer:
// begin_frame, the list, end_frame.
void draw_frame();

// Makes list id the one draw_frame replays (vs.list_id) and deletes the list it replaces.
void use_list(unsigned int id);
