// The viewer itself: start-up, the window, the load step that ends the process on a bad file,
// and the input handlers GLUT calls.
#pragma once

#include "viewer_state.h"

// Start-up: the viewer's own arguments, GLUT, the 300 x 300 window "Sample 6", callbacks, GL
// state, file 1, then the event loop, which does not return. Ends the process with status 1 if
// file 1 cannot be loaded.
int viewer_main(int argc, char **argv);

// The viewer's own arguments, before GLUT sees them: -h or --help prints the usage and ends the
// process with status 0; DIR, the first argument that is neither an X option nor its value, is
// entered, as if the viewer had been started there, and taken out of argv. Ends the process with
// status 1 when DIR cannot be entered.
void take_own_arguments(int *argc, char **argv);

// GLUT and the viewer's window: 300 x 300, titled "Sample 6", double-buffered with depth.
void open_window(int *argc, char **argv);

// Draws one frame and shows it: draw_frame, then the buffer swap.
void display();

// Compiles the mesh of file vs.file_no into a new display list, keeps the mesh in vs.mesh and
// returns the list's name. Ends the process with status 1 when the file cannot be loaded or
// OpenGL has no list name to give.
unsigned int make_mesh_list();

// Makes the mesh of vs.file_no current: compiles its list, stores it in vs.list_id and deletes the
// list it replaces. Ends the process as make_mesh_list does.
void reload_mesh();

// Input: mouse drag and arrow keys turn the mesh; character keys move it, step through the
// series and quit (ESC and Q end the process with status 0).
void mouse(int button, int state, int x, int y);
void motion(int x, int y);
void special(int key, int x, int y);
void keyboard(unsigned char key, int x, int y);
