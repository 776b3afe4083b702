#include "tests/fake_gl.h"

#include "view/viewer.h"

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
    case GL_TRIANGLES: return "GL_TRIANGLES";
    case GL_LINES: return "GL_LINES";
    case GL_POLYGON_OFFSET_FILL: return "GL_POLYGON_OFFSET_FILL";
    case GL_LESS: return "GL_LESS";
    case GL_LEQUAL: return "GL_LEQUAL";
    case GL_VERTEX_ARRAY: return "GL_VERTEX_ARRAY";
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

// The entry points that only record their call: name, parameters, and how the arguments print.
#define RECORDED_CALLS(X)                                                                          \
    X(glNewList, (GLuint list, GLenum mode), "%u, %s", list, name_of(mode))                        \
    X(glCallList, (GLuint list), "%u", list)                                                       \
    X(glDeleteLists, (GLuint list, GLsizei range), "%u, %d", list, range)                          \
    X(glBegin, (GLenum mode), "%s", name_of(mode))                                                 \
    X(glVertex3f, (GLfloat x, GLfloat y, GLfloat z), "%.9g, %.9g, %.9g", x, y, z)                  \
    X(glVertex3fv, (const GLfloat *v), "%.9g, %.9g, %.9g", v[0], v[1], v[2])                       \
    X(glColor4f, (GLfloat r, GLfloat g, GLfloat b, GLfloat a), "%.9g, %.9g, %.9g, %.9g", r, g, b,  \
      a)                                                                                           \
    X(glClear, (GLbitfield mask), "0x%x", mask)                                                    \
    X(glEnable, (GLenum cap), "%s", name_of(cap))                                                  \
    X(glDisable, (GLenum cap), "%s", name_of(cap))                                                 \
    X(glDepthFunc, (GLenum f), "%s", name_of(f))                                                   \
    X(glPolygonOffset, (GLfloat f, GLfloat u), "%.9g, %.9g", f, u)                                 \
    X(glPointSize, (GLfloat size), "%.9g", size)                                                   \
    X(glEnableClientState, (GLenum a), "%s", name_of(a))                                           \
    X(glDisableClientState, (GLenum a), "%s", name_of(a))                                          \
    X(glVertexPointer, (GLint n, GLenum t, GLsizei s, const void *p), "%d, %u, %d, %p", n, t, s,   \
      p)                                                                                           \
    X(glDrawElements, (GLenum m, GLsizei n, GLenum t, const void *p), "%s, %d, %u, %p",            \
      name_of(m), n, t, p)                                                                         \
    X(glDrawArrays, (GLenum m, GLint f, GLsizei n), "%s, %d, %d", name_of(m), f, n)                \
    X(glBlendFunc, (GLenum s, GLenum d), "%s, %s", name_of(s), name_of(d))                         \
    X(glViewport, (GLint x, GLint y, GLsizei w, GLsizei h), "%d, %d, %d, %d", x, y, w, h)          \
    X(glMatrixMode, (GLenum mode), "%s", name_of(mode))                                            \
    X(glFrustum, (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f),         \
      "%.17g, %.17g, %.17g, %.17g, %.17g, %.17g", l, r, b, t, n, f)                                \
    X(glTranslatef, (GLfloat x, GLfloat y, GLfloat z), "%.9g, %.9g, %.9g", x, y, z)                \
    X(glRotatef, (GLfloat a, GLfloat x, GLfloat y, GLfloat z), "%.9g, %.9g, %.9g, %.9g", a, x, y,  \
      z)                                                                                           \
    X(glutInit, (int *argc, char **argv), "%d, %s", *argc, *argc > 0 ? argv[0] : "")               \
    X(glutInitDisplayMode, (unsigned int mode), "%u", mode)                                        \
    X(glutInitWindowSize, (int w, int h), "%d, %d", w, h)                                          \
    X(glutDisplayFunc, (void (*fn)(void)), "%s", callback_name(fn))                                \
    X(glutReshapeFunc, (void (*fn)(int, int)), "%s", callback_name(fn))                            \
    X(glutKeyboardFunc, (void (*fn)(unsigned char, int, int)), "%s", callback_name(fn))            \
    X(glutSpecialFunc, (void (*fn)(int, int, int)), "%s", callback_name(fn))                       \
    X(glutMotionFunc, (void (*fn)(int, int)), "%s", callback_name(fn))                             \
    X(glutMouseFunc, (void (*fn)(int, int, int, int)), "%s", callback_name(fn))

// Those without parameters.
#define RECORDED_BARE_CALLS(X)                                                                     \
    X(glEndList)                                                                                   \
    X(glEnd)                                                                                       \
    X(glLoadIdentity)                                                                              \
    X(glPushMatrix)                                                                                \
    X(glPopMatrix)                                                                                 \
    X(glutMainLoop)                                                                                \
    X(glutPostRedisplay)                                                                           \
    X(glutSwapBuffers)

#define DEFINE_RECORDED(name, params, fmt, ...)                                                    \
    void name params                                                                               \
    {                                                                                              \
        record(#name "(" fmt ")", __VA_ARGS__);                                                    \
    }
#define DEFINE_BARE(name)                                                                          \
    void name(void)                                                                                \
    {                                                                                              \
        record("%s", #name "()");                                                                  \
    }

extern "C" {

RECORDED_CALLS(DEFINE_RECORDED)
RECORDED_BARE_CALLS(DEFINE_BARE)

// The entry points that return something.
GLuint glGenLists(GLsizei range)
{
    GLuint id = fake_lists_exhausted ? 0 : fake_next_list;
    if (id != 0)
        fake_next_list += (GLuint)range;
    record("glGenLists(%d) = %u", range, id);
    return id;
}
int glutCreateWindow(const char *title)
{
    record("glutCreateWindow(\"%s\")", title);
    return 1;
}
int glutGetModifiers(void)
{
    record("glutGetModifiers() = %d", fake_modifiers);
    return fake_modifiers;
}

} // extern "C"
