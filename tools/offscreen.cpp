#include "offscreen.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>

namespace
{

EGLDisplay dpy = EGL_NO_DISPLAY;
EGLContext ctx = EGL_NO_CONTEXT;
EGLSurface surf = EGL_NO_SURFACE;
EGLConfig config = nullptr; // the context's

bool has_extension(const char *list, const char *name)
{
    std::size_t n = std::strlen(name);
    for (const char *p = list; p && (p = std::strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0'))
            return true;
    return false;
}

const char *egl_error_name(EGLint e)
{
    switch (e) {
    case EGL_SUCCESS: return "EGL_SUCCESS";
    case EGL_NOT_INITIALIZED: return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ACCESS: return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC: return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE: return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_CONFIG: return "EGL_BAD_CONFIG";
    case EGL_BAD_CONTEXT: return "EGL_BAD_CONTEXT";
    case EGL_BAD_CURRENT_SURFACE: return "EGL_BAD_CURRENT_SURFACE";
    case EGL_BAD_DISPLAY: return "EGL_BAD_DISPLAY";
    case EGL_BAD_MATCH: return "EGL_BAD_MATCH";
    case EGL_BAD_NATIVE_PIXMAP: return "EGL_BAD_NATIVE_PIXMAP";
    case EGL_BAD_NATIVE_WINDOW: return "EGL_BAD_NATIVE_WINDOW";
    case EGL_BAD_PARAMETER: return "EGL_BAD_PARAMETER";
    case EGL_BAD_SURFACE: return "EGL_BAD_SURFACE";
    case EGL_CONTEXT_LOST: return "EGL_CONTEXT_LOST";
    default: return "an unknown EGL error";
    }
}

// The context on display d, named `what` in a failure. False with "what: step: error" appended
// to *why.
bool try_display(EGLDisplay d, const char *what, int w, int h, std::string *why)
{
    const char *step = nullptr;
    if (d == EGL_NO_DISPLAY) {
        step = "eglGetPlatformDisplay";
    } else if (!eglInitialize(d, nullptr, nullptr)) {
        step = "eglInitialize";
    }
    if (step) {
        *why += std::string(why->empty() ? "" : "; ") + what + ": " + step + " failed (" +
                egl_error_name(eglGetError()) + ")";
        return false;
    }
    const EGLint config_attrs[] = {EGL_SURFACE_TYPE,
                                   EGL_PBUFFER_BIT,
                                   EGL_RENDERABLE_TYPE,
                                   EGL_OPENGL_BIT,
                                   EGL_RED_SIZE,
                                   8,
                                   EGL_GREEN_SIZE,
                                   8,
                                   EGL_BLUE_SIZE,
                                   8,
                                   EGL_DEPTH_SIZE,
                                   24,
                                   EGL_NONE};
    const EGLint pbuffer_attrs[] = {EGL_WIDTH, w, EGL_HEIGHT, h, EGL_NONE};
    EGLint n = 0;
    if (!eglChooseConfig(d, config_attrs, &config, 1, &n)) {
        step = "eglChooseConfig failed";
    } else if (n < 1) {
        step = "no pbuffer config with OpenGL, 8-bit RGB and a 24-bit depth buffer";
    } else if (!eglBindAPI(EGL_OPENGL_API)) {
        step = "eglBindAPI(EGL_OPENGL_API) failed";
    } else if ((ctx = eglCreateContext(d, config, EGL_NO_CONTEXT, nullptr)) == EGL_NO_CONTEXT) {
        step = "eglCreateContext failed";
    } else if ((surf = eglCreatePbufferSurface(d, config, pbuffer_attrs)) == EGL_NO_SURFACE) {
        step = "eglCreatePbufferSurface failed";
    } else if (!eglMakeCurrent(d, surf, surf, ctx)) {
        step = "eglMakeCurrent failed";
    } else {
        dpy = d;
        return true;
    }
    *why += std::string(why->empty() ? "" : "; ") + what + ": " + step + " (" +
            egl_error_name(eglGetError()) + ")";
    dpy = d;
    close_offscreen();
    return false;
}

// Makes the pbuffer w x h, the framebuffer drawn into. False with the reason in why.
bool pbuffer_of_size(int w, int h, std::string *why)
{
    EGLint have_w = 0, have_h = 0;
    eglQuerySurface(dpy, surf, EGL_WIDTH, &have_w);
    eglQuerySurface(dpy, surf, EGL_HEIGHT, &have_h);
    if (have_w == w && have_h == h)
        return true;
    const EGLint attrs[] = {EGL_WIDTH, w, EGL_HEIGHT, h, EGL_NONE};
    EGLSurface bigger = eglCreatePbufferSurface(dpy, config, attrs);
    if (bigger == EGL_NO_SURFACE || !eglMakeCurrent(dpy, bigger, bigger, ctx)) {
        *why = std::string("cannot make a ") + std::to_string(w) + "x" + std::to_string(h) +
               " pbuffer (" + egl_error_name(eglGetError()) + ")";
        if (bigger != EGL_NO_SURFACE)
            eglDestroySurface(dpy, bigger);
        return false;
    }
    eglDestroySurface(dpy, surf);
    surf = bigger;
    return true;
}

constexpr int TRIM_THRESHOLD = 64 << 20; // free memory kept at the heap's top, bytes
constexpr int SMALL_MESH = 2500;         // elements: up to this, one thread draws faster

// Whether the current context offers OpenGL major.minor or the extension.
bool gl_offers(int major, int minor, const char *extension)
{
    int have_major = 0, have_minor = 0;
    const char *version = reinterpret_cast<const char *>(glGetString(GL_VERSION));
    const char *extensions = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    return (version && std::sscanf(version, "%d.%d", &have_major, &have_minor) == 2 &&
            (have_major > major || (have_major == major && have_minor >= minor))) ||
           has_extension(extensions, extension);
}

} // namespace

void keep_heap_between_frames()
{
    mallopt(M_TRIM_THRESHOLD, TRIM_THRESHOLD);
}

void choose_rasteriser_threads(int elements)
{
    if (elements <= SMALL_MESH)
        setenv("LP_NUM_THREADS", "0", 0);
}

bool open_frame_target(int w, int h, bool red_alone, FrameTarget *t, std::string *why)
{
    *t = FrameTarget{};
    t->w = w;
    t->h = h;
    t->pixels = red_alone ? Pixels::RED : Pixels::RGBA;
    glPixelStorei(GL_PACK_ALIGNMENT, 1); // rows of one byte a pixel come back unpadded
    // A window's rows are stored from the top, and the rasteriser breaks its ties for it as for
    // that origin; a framebuffer object stores them from the bottom. Moving the clip origin to the
    // upper left gives a framebuffer object both: the same pixels, where a few in a million differ
    // otherwise. It is also faster to draw into and read than the pbuffer.
    if (!gl_offers(4, 5, "GL_ARB_clip_control") || !gl_offers(3, 0, "GL_ARB_framebuffer_object") ||
        (red_alone && !gl_offers(3, 0, "GL_ARB_texture_rg")))
        return pbuffer_of_size(w, h, why);
    GLuint framebuffer = 0, renderbuffers[2] = {};
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(2, renderbuffers);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, red_alone ? GL_R8 : GL_RGBA8, w, h);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                              renderbuffers[0]);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                              renderbuffers[1]);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE ||
        glGetError() != GL_NO_ERROR) {
        *why = "cannot make a " + std::to_string(w) + "x" + std::to_string(h) +
               " framebuffer (out of memory?)";
        return false;
    }
    glClipControl(GL_UPPER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
    t->from_top = true;
    return true;
}

void read_frame(const FrameTarget &t, unsigned char *into)
{
    glReadPixels(0, 0, t.w, t.h, t.pixels == Pixels::RED ? GL_RED : GL_RGBA, GL_UNSIGNED_BYTE,
                 into);
}

PixelRows frame_rows(const FrameTarget &t, const unsigned char *buffer)
{
    const long row = (long)t.w * pixel_bytes(t.pixels);
    return PixelRows{t.w, t.h, t.pixels, buffer, t.from_top ? row : -row};
}

bool open_offscreen(int w, int h, std::string *why)
{
    const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    std::string tried;
    if (has_extension(client, "EGL_MESA_platform_surfaceless") &&
        try_display(
            eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr),
            "Mesa's surfaceless platform", w, h, &tried))
        return true;
    if (has_extension(client, "EGL_EXT_platform_device")) {
        auto query_devices =
            (PFNEGLQUERYDEVICESEXTPROC)eglGetProcAddress("eglQueryDevicesEXT"); // NOLINT
        EGLDeviceEXT devices[16];
        EGLint ndev = 0;
        if (!query_devices || !query_devices(16, devices, &ndev))
            tried += std::string(tried.empty() ? "" : "; ") + "devices: eglQueryDevicesEXT failed";
        for (EGLint i = 0; i < ndev; ++i) {
            std::string what = "device " + std::to_string(i + 1) + " of " + std::to_string(ndev);
            if (try_display(eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr),
                            what.c_str(), w, h, &tried))
                return true;
        }
    }
    if (tried.empty())
        tried = "EGL offers neither Mesa's surfaceless platform nor device platforms";
    *why = "no OpenGL context without a display: " + tried;
    return false;
}

void close_offscreen()
{
    if (dpy == EGL_NO_DISPLAY)
        return;
    eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (surf != EGL_NO_SURFACE)
        eglDestroySurface(dpy, surf);
    if (ctx != EGL_NO_CONTEXT)
        eglDestroyContext(dpy, ctx);
    eglTerminate(dpy);
    dpy = EGL_NO_DISPLAY;
    ctx = EGL_NO_CONTEXT;
    surf = EGL_NO_SURFACE;
}
