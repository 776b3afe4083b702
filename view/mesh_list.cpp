#include "view/draw.h"

#include <GL/gl.h>

unsigned int open_mesh_list()
{
    GLuint id = glGenLists(1);
    if (id != 0)
        glNewList(id, GL_COMPILE);
    return id;
}

void put_mesh(const Mesh &m)
{
    // The reader checked every corner slot.
    GLfloat vert[3][3];
    for (int e = 0; e < m.nele; ++e) {
        for (int j = 0; j < 3; ++j) {
            vert[j][0] = (GLfloat)m.x[m.ele[e][j]];
            vert[j][1] = (GLfloat)m.y[m.ele[e][j]];
            vert[j][2] = 0.0f;
        }
        glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
        glBegin(GL_LINE_LOOP);
        glVertex3fv(vert[0]);
        glVertex3fv(vert[1]);
        glVertex3fv(vert[2]);
        glEnd();
    }
    // Points after all outlines, one colour and begin/end pair each.
    for (int i = 0; i < m.np; ++i) {
        glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
        glBegin(GL_POINTS);
        glVertex3f((GLfloat)m.x[i], (GLfloat)m.y[i], 0.0f);
        glEnd();
    }
}

void compile_mesh(const Mesh &m)
{
    put_mesh(m);
    glEndList();
}

void put_marks(const Mesh &m, const Marks &marks)
{
    const unsigned char *inverted = marks.inverted;
    const double *area = marks.area;
    const auto marked = [&](int e) { return inverted[e] || area[e] == 0.0; };
    const auto corner = [&m](int e, int j) {
        glVertex3f((GLfloat)m.x[m.ele[e][j]], (GLfloat)m.y[m.ele[e][j]], 0.0f);
    };
    // Over everything red, whatever the depth: the mesh is one plane, so nothing of it hides
    // another part of it, and a sliver's marks must not lose to the red lines along it.
    glDisable(GL_DEPTH_TEST);
    glColor4f(1.0f, 1.0f, 0.0f, 1.0f);
    glBegin(GL_TRIANGLES);
    for (int e = 0; e < m.nele; ++e)
        for (int j = 0; inverted[e] && j < 3; ++j)
            corner(e, j);
    glEnd();
    // A crushed element covers no pixel's centre: its edges and, larger, its corners show it at
    // any scale.
    glBegin(GL_LINES);
    for (int e = 0; e < m.nele; ++e) {
        for (int j = 0; marked(e) && j < 3; ++j) {
            corner(e, j);
            corner(e, (j + 1) % 3);
        }
    }
    glEnd();
    glPointSize(MARK_POINT_SIZE);
    glBegin(GL_POINTS);
    for (int e = 0; e < m.nele; ++e)
        for (int j = 0; marked(e) && j < 3; ++j)
            corner(e, j);
    glEnd();
    glPointSize(1.0f);
    glEnable(GL_DEPTH_TEST);
}
