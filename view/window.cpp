// The viewer's window: GLUT start-up, the callbacks, the event loop, the buffer swap, and the
// load step that ends the process when a file cannot be shown.
#include "read_res.h"
#include "viewer.h"

#include <GL/gl.h>
#include <GL/glut.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace
{

const char USAGE[] =
    "usage: resview [X OPTIONS] [DIR]\n"
    "Shows the result series res0000.inp .. res01010.inp in DIR (default: the working\n"
    "directory), from res0001.inp on: drag or the arrow keys turn the mesh, Z/C, S/X and A/D\n"
    "move it, N and B step through the series (10 files with Shift), Q or ESC quits.\n"
    "X options such as -display and -geometry go to the window system.\n";

// X options that take a value, which is never the series folder.
bool takes_value(const char *arg)
{
    return std::strcmp(arg, "-display") == 0 || std::strcmp(arg, "-geometry") == 0;
}

} // namespace

void take_own_arguments(int *argc, char **argv)
{
    int kept = 1;
    bool entered = false;
    for (int i = 1; i < *argc; ++i) {
        const char *arg = argv[i];
        if (takes_value(arg) && i + 1 < *argc) {
            argv[kept++] = argv[i++];
            argv[kept++] = argv[i];
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(USAGE, stdout);
            std::exit(0);
        } else if (arg[0] != '-' && !entered) {
            // The series is read as if the viewer had been started in it.
            if (chdir(arg) != 0) {
                std::fprintf(stderr, "resview: cannot enter %s: %s\n", arg, std::strerror(errno));
                std::exit(1);
            }
            entered = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argv[kept] = nullptr;
    *argc = kept;
}

void open_window(int *argc, char **argv)
{
    glutInit(argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(300, 300);
    glutCreateWindow("Sample 6");
}

int viewer_main(int argc, char **argv)
{
    take_own_arguments(&argc, argv);
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
