// The viewer's window: GLUT start-up, the callbacks, the event loop and the buffer swap.
#include "viewer_state.h"

#include <GL/glut.h>

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
