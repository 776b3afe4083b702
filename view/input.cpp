#include "view/viewer.h"

#include <GL/glut.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>

void mouse(int button, int state, int x, int y)
{
    if (button == GLUT_LEFT_BUTTON && state == GLUT_DOWN) {
        vs.press_x = x;
        vs.press_y = y;
        vs.rot_y0 = vs.rot_y;
        vs.rot_x0 = vs.rot_x;
    }
}

void motion(int x, int y)
{
    // One degree per pixel from the last left-button press, whichever button is held.
    vs.rot_x = (float)(y - vs.press_y) + vs.rot_x0;
    vs.rot_y = (float)(x - vs.press_x) + vs.rot_y0;
    if (vs.rot_x > 90.0f)
        vs.rot_x = 90.0f;
    if (vs.rot_x < -90.0f)
        vs.rot_x = -90.0f;
    glutPostRedisplay();
}

void special(int key, int, int)
{
    // The limit test comes before the step: from 85, Up gives 95.
    switch (key) {
    case GLUT_KEY_LEFT: vs.rot_y += 10.0f; break;
    case GLUT_KEY_UP:
        if (vs.rot_x < 90.0f)
            vs.rot_x += 10.0f;
        break;
    case GLUT_KEY_RIGHT: vs.rot_y -= 10.0f; break;
    case GLUT_KEY_DOWN:
        if (vs.rot_x > -90.0f)
            vs.rot_x -= 10.0f;
        break;
    default: break;
    }
    glutPostRedisplay();
}

void keyboard(unsigned char key, int, int)
{
    // The process never sets a locale, so toupper folds a..z only.
    int k = std::toupper(key);
    // Shift is the modifier bit alone, never the character's case (Caps Lock counts as Shift).
    bool shift = (glutGetModifiers() & GLUT_ACTIVE_SHIFT) != 0;
    switch (k) {
    case 27:
    case 'Q': std::exit(0);
    // Steps are added in double precision and stored as float.
    case 'A': vs.tz = (float)(vs.tz - (shift ? 1.0 : 0.1)); break;
    case 'D': vs.tz = (float)(vs.tz + (shift ? 1.0 : 0.1)); break;
    case 'Z': vs.tx = (float)(vs.tx - 0.1); break;
    case 'C': vs.tx = (float)(vs.tx + 0.1); break;
    case 'S': vs.ty = (float)(vs.ty - 0.1); break;
    case 'X': vs.ty = (float)(vs.ty + 0.1); break;
    case 'B': vs.file_no -= shift ? 10 : 1; break;
    case 'N': vs.file_no += shift ? 10 : 1; break;
    default: break;
    }
    // Printed before the reload, so the count is that of the mesh shown until now; flushed so a
    // pipe or a log sees it at once. An index outside the series ends the process in the reload.
    std::printf("file_no:%d nele:%d\n", vs.file_no, vs.mesh.nele);
    std::fflush(stdout);
    reload_mesh();
    glutPostRedisplay();
}
