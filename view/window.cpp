// The viewer's window: GLUT start-up, the callbacks, the event loop, the buffer swap, and the
// load step that ends the process when a file cannot be shown.
#include "view/framing.h"
#include "view/read_res.h"
#include "view/viewer.h"

#include <GL/gl.h>
#include <GL/glut.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void open_window(int *argc, char **argv, int w, int h)
{
    glutInit(argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(w, h);
    glutCreateWindow("Sample 6");
}

int viewer_main(int argc, char **argv)
{
    ViewerArgs args = take_own_arguments(&argc, argv);
    apply_arguments(args);
    open_window(&argc, argv, args.window_w, args.window_h);
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutKeyboardFunc(keyboard);
    glutSpecialFunc(special);
    glutMotionFunc(motion);
    glutMouseFunc(mouse);
    init_gl_state();
    reload_mesh(); // file 1; a missing file ends the process here, before the event loop
    if (!args.view.fit)
        note_if_outside();
    glutMainLoop();
    return 0;
}

void note_if_outside()
{
    const double share = share_inside(vs.mesh, view_of(vs));
    if (share >= MOSTLY_OUTSIDE)
        return;
    Extent e;
    e.add(vs.mesh);
    std::fprintf(stderr, "resview: %s: %s; try resview --fit\n", res_file_name(vs.file_no),
                 outside_text(e, share, "the window").c_str());
}

void display()
{
    draw_frame();
    glutSwapBuffers();
}

unsigned int make_mesh_list()
{
    // The list is opened before the file is read.
    GLuint id = open_mesh_list();
    if (id == 0) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "resview: OpenGL has no display list left for %s (glGenLists "
                     "returned 0)\n",
                     res_file_name(vs.file_no) ? res_file_name(vs.file_no) : "the mesh");
        std::exit(1);
    }
    vs.mesh = read_res(vs.file_no);
    compile_mesh(vs.mesh);
    return id;
}

void reload_mesh()
{
    use_list(make_mesh_list());
}
