#include "render/offscreen.h"

#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace
{

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

// "; " between the displays tried.
void add_tried(std::string *tried, const std::string &what)
{
    *tried += (tried->empty() ? "" : "; ") + what;
}

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

std::string size_text(int w, int h)
{
    return std::to_string(w) + "x" + std::to_string(h);
}

} // namespace

OffscreenContext::~OffscreenContext()
{
    close();
}

// The context on display d, named `what` in a failure: "what: step (error)" appended to *tried.
bool OffscreenContext::try_display(EGLDisplay d, const char *what, int w, int h, std::string *tried)
{
    if (d == EGL_NO_DISPLAY || !eglInitialize(d, nullptr, nullptr)) {
        add_tried(tried, std::string(what) + ": " +
                             (d == EGL_NO_DISPLAY ? "eglGetPlatformDisplay" : "eglInitialize") +
                             " failed (" + egl_error_name(eglGetError()) + ")");
        return false;
    }
    dpy_ = d;
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
    const char *step = nullptr;
    if (!eglChooseConfig(d, config_attrs, &config_, 1, &n)) {
        step = "eglChooseConfig failed";
    } else if (n < 1) {
        step = "no pbuffer config with OpenGL, 8-bit RGB and a 24-bit depth buffer";
    } else if (!eglBindAPI(EGL_OPENGL_API)) {
        step = "eglBindAPI(EGL_OPENGL_API) failed";
    } else if ((ctx_ = eglCreateContext(d, config_, EGL_NO_CONTEXT, nullptr)) == EGL_NO_CONTEXT) {
        step = "eglCreateContext failed";
    } else if ((surf_ = eglCreatePbufferSurface(d, config_, pbuffer_attrs)) == EGL_NO_SURFACE) {
        step = "eglCreatePbufferSurface failed";
    } else if (!eglMakeCurrent(d, surf_, surf_, ctx_)) {
        step = "eglMakeCurrent failed";
    } else {
        return true;
    }
    add_tried(tried, std::string(what) + ": " + step + " (" + egl_error_name(eglGetError()) + ")");
    close();
    return false;
}

Status OffscreenContext::open(int w, int h)
{
    close();
    errno = 0;
    const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    const int load_errno = errno; // why, when EGL could load none of its vendors' libraries
    std::string tried;
    if (has_extension(client, "EGL_MESA_platform_surfaceless") &&
        try_display(
            eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr),
            "Mesa's surfaceless platform", w, h, &tried))
        return Status();
    if (has_extension(client, "EGL_EXT_platform_device")) {
        auto query_devices =
            (PFNEGLQUERYDEVICESEXTPROC)eglGetProcAddress("eglQueryDevicesEXT"); // NOLINT
        EGLDeviceEXT devices[16];
        EGLint ndev = 0;
        if (!query_devices || !query_devices(16, devices, &ndev))
            add_tried(&tried, "devices: eglQueryDevicesEXT failed");
        for (EGLint i = 0; i < ndev; ++i) {
            std::string what = "device " + std::to_string(i + 1) + " of " + std::to_string(ndev);
            if (try_display(eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr),
                            what.c_str(), w, h, &tried))
                return Status();
        }
    }
    if (tried.empty() && !client)
        tried = std::string("EGL answers with no platform at all: it could not load its vendors' "
                            "libraries (") +
                (load_errno ? std::strerror(load_errno) : "no reason given") + ")";
    else if (tried.empty())
        tried = "EGL offers neither Mesa's surfaceless platform nor device platforms";
    return Status::error("no OpenGL context without a display: " + tried);
}

Status OffscreenContext::pbuffer_of_size(int w, int h)
{
    EGLint have_w = 0, have_h = 0;
    eglQuerySurface(dpy_, surf_, EGL_WIDTH, &have_w);
    eglQuerySurface(dpy_, surf_, EGL_HEIGHT, &have_h);
    if (have_w == w && have_h == h)
        return Status();
    const EGLint attrs[] = {EGL_WIDTH, w, EGL_HEIGHT, h, EGL_NONE};
    EGLSurface bigger = eglCreatePbufferSurface(dpy_, config_, attrs);
    if (bigger == EGL_NO_SURFACE || !eglMakeCurrent(dpy_, bigger, bigger, ctx_)) {
        Status s = Status::error("cannot make a " + size_text(w, h) + " pbuffer (" +
                                 egl_error_name(eglGetError()) + ")");
        if (bigger != EGL_NO_SURFACE)
            eglDestroySurface(dpy_, bigger);
        return s;
    }
    eglDestroySurface(dpy_, surf_);
    surf_ = bigger;
    return Status();
}

Status OffscreenContext::open_frame_target(int w, int h, bool red_alone)
{
    release_framebuffer();
    target_ = FrameTarget{w, h, red_alone ? Pixels::RED : Pixels::RGBA, false};
    glPixelStorei(GL_PACK_ALIGNMENT, 1); // rows of one byte a pixel come back unpadded
    // A window's rows are stored from the top, and the rasteriser breaks its ties for it as for
    // that origin; a framebuffer object stores them from the bottom. Moving the clip origin to the
    // upper left gives a framebuffer object both: the same pixels, where a few in a million differ
    // otherwise. It is also faster to draw into and read than the pbuffer.
    if (!gl_offers(4, 5, "GL_ARB_clip_control") || !gl_offers(3, 0, "GL_ARB_framebuffer_object") ||
        (red_alone && !gl_offers(3, 0, "GL_ARB_texture_rg")))
        return pbuffer_of_size(w, h);
    glGenFramebuffers(1, &framebuffer_);
    glGenRenderbuffers(2, renderbuffers_);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers_[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, red_alone ? GL_R8 : GL_RGBA8, w, h);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers_[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                              renderbuffers_[0]);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                              renderbuffers_[1]);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE ||
        glGetError() != GL_NO_ERROR) {
        release_framebuffer();
        return Status::error("cannot make a " + size_text(w, h) + " framebuffer (out of memory?)");
    }
    glClipControl(GL_UPPER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
    target_.from_top = true;
    return Status();
}

void OffscreenContext::read_frame(unsigned char *into) const
{
    glReadPixels(0, 0, target_.w, target_.h, target_.pixels == Pixels::RED ? GL_RED : GL_RGBA,
                 GL_UNSIGNED_BYTE, into);
}

PixelRows OffscreenContext::frame_rows(const unsigned char *buffer) const
{
    const long row = (long)target_.w * pixel_bytes(target_.pixels);
    return PixelRows{target_.w, target_.h, target_.pixels, buffer, target_.from_top ? row : -row};
}

void OffscreenContext::release_framebuffer()
{
    if (framebuffer_ == 0 && renderbuffers_[0] == 0 && renderbuffers_[1] == 0)
        return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer_);
    glDeleteRenderbuffers(2, renderbuffers_);
    framebuffer_ = renderbuffers_[0] = renderbuffers_[1] = 0;
    glGetError(); // a failure that made the framebuffer incomplete is dealt with
}

void OffscreenContext::close()
{
    if (dpy_ == EGL_NO_DISPLAY)
        return;
    if (ctx_ != EGL_NO_CONTEXT && eglGetCurrentContext() == ctx_)
        release_framebuffer();
    eglMakeCurrent(dpy_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (surf_ != EGL_NO_SURFACE)
        eglDestroySurface(dpy_, surf_);
    if (ctx_ != EGL_NO_CONTEXT)
        eglDestroyContext(dpy_, ctx_);
    eglTerminate(dpy_);
    dpy_ = EGL_NO_DISPLAY;
    ctx_ = EGL_NO_CONTEXT;
    surf_ = EGL_NO_SURFACE;
    framebuffer_ = renderbuffers_[0] = renderbuffers_[1] = 0;
    target_ = FrameTarget{};
}
