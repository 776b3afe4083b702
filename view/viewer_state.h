// The viewer's one process-wide state record, the functions that GLUT calls and the drawing
// functions they share with the renderer.
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

// Start-up: GLUT, the 300 x 300 window "Sample 6", callbacks, GL state, file 1, then the event
// loop, which does not return. Ends the process with status 1 if file 1 cannot be loaded.
int viewer_main(int argc, char **argv);

// GLUT and the viewer's window: 300 x 300, titled "Sample 6", double-buffered with depth.
void open_window(int *argc, char **argv);

// The window-independent GL state every picture relies on: depth test, blending and its function.
void init_gl_state();

// Draws one frame from vs and the current display list into the current framebuffer.
void draw_frame();

// Draws one frame and shows it: draw_frame, then the buffer swap.
void display();

// Sets the viewport to the window and the fixed frustum (the picture stretches with the window).
void reshape(int w, int h);

// Compiles the mesh of file vs.file_no into a new display list, keeps the mesh in vs.mesh and
// returns the list's name. Ends the process with status 1 when the file cannot be loaded or
// OpenGL has no list name to give.
unsigned int make_mesh_list();

// The two halves of make_mesh_list around the read. open_mesh_list: a new list name, opened for
// compiling; ends the process with status 1 when OpenGL has none to give. compile_mesh: m's
// outlines and points into the open list, which it then closes.
unsigned int open_mesh_list();
void compile_mesh(const Mesh &m);

// Makes list id the one draw_frame replays (vs.list_id) and deletes the list it replaces.
void use_list(unsigned int id);

// Makes the mesh of vs.file_no current: compiles its list, stores it in vs.list_id and deletes the
// list it replaces. Ends the process as make_mesh_list does.
void reload_mesh();

// Input: mouse drag and arrow keys turn the mesh; character keys move it, step through the
// series and quit (ESC and Q end the process with status 0).
void mouse(int button, int state, int x, int y);
void motion(int x, int y);
void special(int key, int x, int y);
void keyboard(unsigned char key, int x, int y);
