// Everything the viewer draws with, in OpenGL alone: the state record, the GL state, the
// projection and the frame. A program without a window (the renderer) draws with the same calls.
#include "viewer_state.h"

#include <GL/gl.h>
#include <algorithm>
#include <cmath>

ViewerState vs;

namespace
{

constexpr double NEAR_PLANE = 3.0;    // distance from the eye, mesh units
constexpr double FAR_PLANE = 10000.0; // distance from the eye, mesh units

} // namespace

void init_gl_state()
{
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void begin_frame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    place_model();
}

void place_model()
{
    // The model-view matrix is the identity outside this and end_frame: nothing else changes it.
    glPushMatrix();
    glTranslatef(vs.tx, vs.ty, vs.tz);
    glRotatef(vs.rot_x, 1.0f, 0.0f, 0.0f);
    glRotatef(vs.rot_y, 0.0f, 1.0f, 0.0f);
}

void end_frame()
{
    glPopMatrix();
}

void draw_frame()
{
    begin_frame();
    glCallList(vs.list_id);
    end_frame();
}

void draw_mesh_arrays(const Mesh &m)
{
    // The corners narrowed to single precision as the list's vertices are, and each outline as
    // its three segments corner 1 -> 2, 2 -> 3, 3 -> 1, as a line loop draws them. An edge that
    // two triangles share is drawn twice, once each way round, as in the list: the rasteriser
    // does not always give a segment the same pixels both ways.
    static GLfloat vert[3 * MESH_CAPACITY];
    static GLuint outline[6 * MESH_CAPACITY];
    GLfloat *v = vert;
    for (int i = 0; i < m.np; ++i) {
        *v++ = (GLfloat)m.x[i];
        *v++ = (GLfloat)m.y[i];
        *v++ = 0.0f;
    }
    GLuint *o = outline;
    for (int e = 0; e < m.nele; ++e) {
        for (int j = 0; j < 3; ++j) {
            *o++ = (GLuint)m.ele[e][j];
            *o++ = (GLuint)m.ele[e][(j + 1) % 3];
        }
    }
    // Every colour is opaque, so blending would change no pixel; it only costs time here.
    glDisable(GL_BLEND);
    glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vert);
    // All outlines before all points, as in the list.
    glDrawElements(GL_LINES, 6 * m.nele, GL_UNSIGNED_INT, outline);
    glDrawArrays(GL_POINTS, 0, m.np);
    glDisableClientState(GL_VERTEX_ARRAY);
    glEnable(GL_BLEND);
}

void draw_mesh_frame(const Mesh &m, const unsigned char *inverted, const double *area)
{
    // Turned about x and then y, a node at (x, y) lies at most |x| + |y| farther from the eye
    // than the translation puts the mesh's origin.
    double reach = 0.0;
    for (int i = 0; !inverted && i < m.np; ++i)
        reach = std::max(reach, std::fabs(m.x[i]) + std::fabs(m.y[i]));
    const bool depth_test = inverted || -(double)vs.tz + reach >= FAR_PLANE / 2;
    // Without the test, the depth buffer is neither read nor written: clearing it would be
    // wasted, a tenth of a large picture's frame.
    if (!depth_test)
        glDisable(GL_DEPTH_TEST);
    glClear(depth_test ? GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT : GL_COLOR_BUFFER_BIT);
    place_model();
    draw_mesh_arrays(m);
    if (inverted)
        put_marks(m, inverted, area);
    end_frame();
    glEnable(GL_DEPTH_TEST);
}

void reshape(int w, int h)
{
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // Fixed, whatever the window's shape: at z = -15 the view spans -5..5 in x and y.
    glFrustum(-1.0, 1.0, -1.0, 1.0, NEAR_PLANE, FAR_PLANE);
    glMatrixMode(GL_MODELVIEW);
}
