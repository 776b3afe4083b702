// The viewer's window: GLUT start-up, the callbacks, the event loop, the buffer swap, and the
// load step that ends the process when a file cannot be shown.
#include "read_res.h"
#include "viewer.h"

#include <GL/gl.h>
#include <GL/glut.h>
#include <cstdio>
#include <cstdlib>

void open_window(int *argc, char **argv)
{
    glutInit(argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(300, 300);
    glutCreateWindow("Sample 6");
}

int viewer_main(int argc, char **argv)
{
    open_window(&argc, argv);
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutKeyboardFunc(keyboard);
    glutSpecialFunc(special);
    glutMotionFunc(motion);
    glutMouseFunc(mouse);
    init_gl_state();
    reload_mesh(); // file 1; a missing file ends the process here, before the event loop
    glutMainLoop();
    return 0;
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
