#include "fake_gl.h"

#include "viewer_state.h"

#include <GL/glut.h>
#include <cstdarg>
#include <cstdio>

std::vector<std::string> gl_calls;
unsigned int fake_next_list = 1;
bool fake_lists_exhausted = false;
int fake_modifiers = 0;

void fake_gl_reset()
{
    gl_calls.clear();
    fake_next_list = 1;
    fake_lists_exhausted = false;
    fake_modifiers = 0;
}

std::vector<std::string> gl_calls_named(const std::string &prefix)
{
    std::vector<std::string> out;
    for (const auto &c : gl_calls)
        if (c.compare(0, prefix.size(), prefix) == 0)
            out.push_back(c);
    return out;
}

namespace
{

void record(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

void record(const char *fmt, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    gl_calls.emplace_back(buf);
}

const char *name_of(GLenum e)
{
    switch (e) {
    case GL_LINE_LOOP: return "GL_LINE_LOOP";
    case GL_POINTS: return "GL_POINTS";
    case GL_COMPILE: return "GL_COMPILE";
    case GL_PROJECTION: return "GL_PROJECTION";
    case GL_MODELVIEW: return "GL_MODELVIEW";
    case GL_DEPTH_TEST: return "GL_DEPTH_TEST";
    case GL_BLEND: return "GL_BLEND";
    case GL_SRC_ALPHA: return "GL_SRC_ALPHA";
    case GL_ONE_MINUS_SRC_ALPHA: return "GL_ONE_MINUS_SRC_ALPHA";
    default: return "?";
    }
}

template <typename F> const char *callback_name(F *fn)
{
    const void *p = reinterpret_cast<const void *>(fn);
    const struct {
        const void *fn;
        const char *name;
    } known[] = {{reinterpret_cast<const void *>(display), "display"},
                 {reinterpret_cast<const void *>(reshape), "reshape"},
                 {reinterpret_cast<const void *>(keyboard), "keyboard"},
                 {reinterpret_cast<const void *>(special), "special"},
                 {reinterpret_cast<const void *>(motion), "motion"},
                 {reinterpret_cast<const void *>(mouse), "mouse"}};
    for (const auto &k : known)
        if (k.fn == p)
            return k.name;
    return p ? "?" : "null";
}

} // namespace

extern "C" {

GLuint glGenLists(GLsizei range)
{
    GLuint id = fake_lists_exhausted ? 0 : fake_next_list;
    if (id != 0)
        fake_next_list += (GLuint)range;
    record("glGenLists(%d) = %u", range, id);
    return id;
}
void glNewList(GLuint list, GLenum mode)
{
    record("glNewList(%u, %s)", list, name_of(mode));
}
void glEndList(void)
{
    record("glEndList()");
}
void glCallList(GLuint list)
{
    record("glCallList(%u)", list);
}
void glDeleteLists(GLuint list, GLsizei range)
{
    record("glDeleteLists(%u, %d)", list, range);
}
void glBegin(GLenum mode)
{
    record("glBegin(%s)", name_of(mode));
}
void glEnd(void)
{
    record("glEnd()");
}
void glVertex3f(GLfloat x, GLfloat y, GLfloat z)
{
    record("glVertex3f(%.9g, %.9g, %.9g)", x, y, z);
}
void glVertex3fv(const GLfloat *v)
{
    record("glVertex3fv(%.9g, %.9g, %.9g)", v[0], v[1], v[2]);
}
void glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a)
{
    record("glColor4f(%.9g, %.9g, %.9g, %.9g)", r, g, b, a);
}
void glClear(GLbitfield mask)
{
    record("glClear(0x%x)", mask);
}
void glEnable(GLenum cap)
{
    record("glEnable(%s)", name_of(cap));
}
void glBlendFunc(GLenum s, GLenum d)
{
    record("glBlendFunc(%s, %s)", name_of(s), name_of(d));
}
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h)
{
    record("glViewport(%d, %d, %d, %d)", x, y, w, h);
}
void glMatrixMode(GLenum mode)
{
    record("glMatrixMode(%s)", name_of(mode));
}
void glLoadIdentity(void)
{
    record("glLoadIdentity()");
}
void glFrustum(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f)
{
    record("glFrustum(%.17g, %.17g, %.17g, %.17g, %.17g, %.17g)", l, r, b, t, n, f);
}
void glPushMatrix(void)
{
    record("glPushMatrix()");
}
void glPopMatrix(void)
{
    record("glPopMatrix()");
}
void glTranslatef(GLfloat x, GLfloat y, GLfloat z)
{
    record("glTranslatef(%.9g, %.9g, %.9g)", x, y, z);
}
void glRotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z)
{
    record("glRotatef(%.9g, %.9g, %.9g, %.9g)", a, x, y, z);
}

void glutInit(int *argc, char **argv)
{
    record("glutInit(%d, %s)", *argc, *argc > 0 ? argv[0] : "");
}
void glutInitDisplayMode(unsigned int mode)
{
    record("glutInitDisplayMode(%u)", mode);
}
void glutInitWindowSize(int w, int h)
{
    record("glutInitWindowSize(%d, %d)", w, h);
}
int glutCreateWindow(const char *title)
{
    record("glutCreateWindow(\"%s\")", title);
    return 1;
}
void glutDisplayFunc(void (*fn)(void))
{
    record("glutDisplayFunc(%s)", callback_name(fn));
}
void glutReshapeFunc(void (*fn)(int, int))
{
    record("glutReshapeFunc(%s)", callback_name(fn));
}
void glutKeyboardFunc(void (*fn)(unsigned char, int, int))
{
    record("glutKeyboardFunc(%s)", callback_name(fn));
}
void glutSpecialFunc(void (*fn)(int, int, int))
{
    record("glutSpecialFunc(%s)", callback_name(fn));
}
void glutMotionFunc(void (*fn)(int, int))
{
    record("glutMotionFunc(%s)", callback_name(fn));
}
void glutMouseFunc(void (*fn)(int, int, int, int))
{
    record("glutMouseFunc(%s)", callback_name(fn));
}
void glutMainLoop(void)
{
    record("glutMainLoop()");
}
void glutPostRedisplay(void)
{
    record("glutPostRedisplay()");
}
void glutSwapBuffers(void)
{
    record("glutSwapBuffers()");
}
int glutGetModifiers(void)
{
    record("glutGetModifiers() = %d", fake_modifiers);
    return fake_modifiers;
}

} // extern "C"
