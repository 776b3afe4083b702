#include "viewer_state.h"

#include <GL/gl.h>
#include <cstdio>
#include <cstdlib>

unsigned int open_mesh_list()
{
    GLuint id = glGenLists(1);
    if (id == 0) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "resview: OpenGL has no display list left for %s (glGenLists "
                     "returned 0)\n",
                     res_file_name(vs.file_no) ? res_file_name(vs.file_no) : "the mesh");
        std::exit(1);
    }
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

unsigned int make_mesh_list()
{
    // The list is opened before the file is read.
    GLuint id = open_mesh_list();
    vs.mesh = read_res(vs.file_no);
    compile_mesh(vs.mesh);
    return id;
}

void use_list(unsigned int id)
{
    GLuint old = vs.list_id;
    vs.list_id = id;
    // Only the newest list is ever drawn; keeping the old one would leak a copy per reload.
    if (old != 0)
        glDeleteLists(old, 1);
}

void reload_mesh()
{
    use_list(make_mesh_list());
}
