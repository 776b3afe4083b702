// The viewer itself: start-up, the window, the load step that ends the process on a bad file,
// and the input handlers GLUT calls.
#pragma once

#include "view/view_options.h"
#include "view/viewer_state.h"

// Start-up: the viewer's own arguments, GLUT, the 300 x 300 window "Sample 6", callbacks, GL
// state, file 1, then the event loop, which does not return. Ends the process with status 1 if
// file 1 cannot be loaded.
int viewer_main(int argc, char **argv);

// What the viewer's own arguments ask for.
struct ViewerArgs {
    int file_no = 1;    // the file shown first
    ViewChoice view;    // the start view, or --fit
    int window_w = 300; // pixels, from -geometry WxH
    int window_h = 300;
};

// Reads the command line before GLUT sees it: GLUT's options (-display and -geometry with their
// values, -iconic, -direct, -indirect, -sync, -gldebug) stay in argv; the viewer's own (--file,
// the view options, --fit, DIR) are taken out. DIR is entered, as if the viewer had been started
// there. Ends the process with status 0 after printing the usage for -h or --help, with status 2
// and the two usage-error lines for an option neither takes or a second DIR, and with status 1
// when DIR cannot be entered.
ViewerArgs take_own_arguments(int *argc, char **argv);

// The size in an X geometry ("800x600+10+20", "=640x480"), or false when it gives none.
bool geometry_size(const char *geometry, int *w, int *h);

// Puts what a asks for into vs: the first file and the view, fitted to every file present in the
// working directory for --fit. Ends the process with status 1 when the files cannot be fitted.
void apply_arguments(const ViewerArgs &a);

// GLUT and the viewer's window: w x h, titled "Sample 6", double-buffered with depth.
void open_window(int *argc, char **argv, int w = 300, int h = 300);

// At start-up, without --fit: a line on standard error when the mesh shown lies mostly outside
// the window, naming the file, its box and --fit.
void note_if_outside();

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
