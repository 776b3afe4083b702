#include "viewer_state.h"

#include <GL/gl.h>

unsigned int open_mesh_list()
{
    GLuint id = glGenLists(1);
    if (id != 0)
        glNewList(id, GL_COMPILE);
    return id;
}

void compile_mesh(const Mesh &m)
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
    glEndList();
}

void use_list(unsigned int id)
{
    GLuint old = vs.list_id;
    vs.list_id = id;
    // Only the newest list is ever drawn; keeping the old one would leak a copy per reload.
    if (old != 0)
        glDeleteLists(old, 1);
}
