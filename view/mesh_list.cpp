#include "draw.h"

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
    const auto corner = [&m](int e, int j) {
        glVertex3f((GLfloat)m.x[m.ele[e][j]], (GLfloat)m.y[m.ele[e][j]], 0.0f);
    };
    glColor4f(1.0f, 1.0f, 0.0f, 1.0f);
    // Filled a little behind the plane, so that every red line and point stays in front.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    glBegin(GL_TRIANGLES);
    for (int e = 0; e < m.nele; ++e)
        for (int j = 0; inverted[e] && j < 3; ++j)
            corner(e, j);
    glEnd();
    glDisable(GL_POLYGON_OFFSET_FILL);
    // A triangle without area is a line or a point: drawn over the red ones that share it.
    glDepthFunc(GL_LEQUAL);
    glBegin(GL_LINES);
    for (int e = 0; e < m.nele; ++e) {
        for (int j = 0; area[e] == 0.0 && j < 3; ++j) {
            corner(e, j);
            corner(e, (j + 1) % 3);
        }
    }
    glEnd();
    glBegin(GL_POINTS);
    for (int e = 0; e < m.nele; ++e)
        for (int j = 0; area[e] == 0.0 && j < 3; ++j)
            corner(e, j);
    glEnd();
    glDepthFunc(GL_LESS);
}
