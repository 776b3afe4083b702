// Everything the viewer draws with, in OpenGL alone: the GL state, the projection and the frame.
// A program without a window (the renderer) draws with the same calls.
#include "view/draw.h"

#include <GL/gl.h>
#include <algorithm>
#include <cmath>

void init_gl_state()
{
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void begin_frame(const View &v)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    place_model(v);
}

void place_model(const View &v)
{
    // The model-view matrix is the identity outside this and end_frame: nothing else changes it.
    glPushMatrix();
    glTranslatef(v.tx, v.ty, v.tz);
    glRotatef(v.rot_x, 1.0f, 0.0f, 0.0f);
    glRotatef(v.rot_y, 0.0f, 1.0f, 0.0f);
    if (v.cx != 0.0f || v.cy != 0.0f)
        glTranslatef(-v.cx, -v.cy, 0.0f);
}

void end_frame()
{
    glPopMatrix();
}

void draw_mesh_arrays(const Mesh &m, MeshArrays *arrays)
{
    // The corners narrowed to single precision as the list's vertices are, and each outline as
    // its three segments corner 1 -> 2, 2 -> 3, 3 -> 1, as a line loop draws them. An edge that
    // two triangles share is drawn twice, once each way round, as in the list: Mesa's rasteriser
    // gives two thirds of random segments other pixels one way than the other
    // (bench/segment_bench).
    arrays->vert.resize(3 * (std::size_t)MESH_CAPACITY);
    arrays->outline.resize(6 * (std::size_t)MESH_CAPACITY);
    GLfloat *v = arrays->vert.data();
    for (int i = 0; i < m.np; ++i) {
        *v++ = (GLfloat)m.x[i];
        *v++ = (GLfloat)m.y[i];
        *v++ = 0.0f;
    }
    GLuint *o = arrays->outline.data();
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
    glVertexPointer(3, GL_FLOAT, 0, arrays->vert.data());
    // All outlines before all points, as in the list.
    glDrawElements(GL_LINES, 6 * m.nele, GL_UNSIGNED_INT, arrays->outline.data());
    glDrawArrays(GL_POINTS, 0, m.np);
    glDisableClientState(GL_VERTEX_ARRAY);
    glEnable(GL_BLEND);
}

void draw_mesh_frame(const Mesh &m, const View &view, MeshArrays *arrays, const Marks *marks)
{
    // Turned about x and then y, a node at (x, y) lies at most |x - cx| + |y - cy| farther from
    // the eye than the translation puts the centre.
    double reach = 0.0;
    for (int i = 0; i < m.np; ++i)
        reach = std::max(reach, std::fabs((double)(float)m.x[i] - view.cx) +
                                    std::fabs((double)(float)m.y[i] - view.cy));
    const bool depth_test = -(double)view.tz + reach >= FAR_PLANE / 2;
    // Without the test, the depth buffer is neither read nor written: clearing it would be
    // wasted, a tenth of a large picture's frame.
    if (!depth_test)
        glDisable(GL_DEPTH_TEST);
    glClear(depth_test ? GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT : GL_COLOR_BUFFER_BIT);
    place_model(view);
    draw_mesh_arrays(m, arrays);
    if (marks)
        put_marks(m, *marks);
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
