// Everything the viewer draws with, in OpenGL alone: the state record, the GL state, the
// projection and the frame. A program without a window (the renderer) draws with the same calls.
#include "viewer_state.h"

#include <GL/gl.h>

ViewerState vs;

void init_gl_state()
{
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void draw_frame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The model-view matrix is the identity outside this pair: nothing else changes it.
    glPushMatrix();
    glTranslatef(vs.tx, vs.ty, vs.tz);
    glRotatef(vs.rot_x, 1.0f, 0.0f, 0.0f);
    glRotatef(vs.rot_y, 0.0f, 1.0f, 0.0f);
    glCallList(vs.list_id);
    glPopMatrix();
}

void reshape(int w, int h)
{
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // Fixed, whatever the window's shape: at z = -15 the view spans -5..5 in x and y.
    glFrustum(-1.0, 1.0, -1.0, 1.0, 3.0, 10000.0);
    glMatrixMode(GL_MODELVIEW);
}
