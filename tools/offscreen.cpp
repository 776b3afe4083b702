#include "offscreen.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <cstdio>
#include <cstring>

namespace
{

EGLDisplay dpy = EGL_NO_DISPLAY;
EGLContext ctx = EGL_NO_CONTEXT;
EGLSurface surf = EGL_NO_SURFACE;

bool has_extension(const char *list, const char *name)
{
    std::size_t n = std::strlen(name);
    for (const char *p = list; p && (p = std::strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0'))
            return true;
    return false;
}

// The context on display d; false with the step that failed in *step.
bool try_display(EGLDisplay d, int w, int h, const char **step)
{
    if (d == EGL_NO_DISPLAY || !eglInitialize(d, nullptr, nullptr)) {
        *step = "eglInitialize failed";
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
    EGLConfig config = nullptr;
    EGLint n = 0;
    if (!eglChooseConfig(d, config_attrs, &config, 1, &n) || n < 1) {
        *step = "no pbuffer config with OpenGL, 8-bit RGB and a 24-bit depth buffer";
    } else if (!eglBindAPI(EGL_OPENGL_API)) {
        *step = "the OpenGL API is not available";
    } else if ((ctx = eglCreateContext(d, config, EGL_NO_CONTEXT, nullptr)) == EGL_NO_CONTEXT) {
        *step = "eglCreateContext failed";
    } else if ((surf = eglCreatePbufferSurface(d, config, pbuffer_attrs)) == EGL_NO_SURFACE) {
        *step = "no pbuffer of that size";
    } else if (!eglMakeCurrent(d, surf, surf, ctx)) {
        *step = "eglMakeCurrent failed";
    } else {
        dpy = d;
        return true;
    }
    dpy = d;
    close_offscreen();
    return false;
}

} // namespace

bool open_offscreen(int w, int h, char *why, std::size_t why_cap)
{
    const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    const char *step = "EGL offers neither Mesa's surfaceless platform nor device platforms";
    if (has_extension(client, "EGL_MESA_platform_surfaceless") &&
        try_display(
            eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr), w,
            h, &step))
        return true;
    if (has_extension(client, "EGL_EXT_platform_device")) {
        auto query_devices =
            (PFNEGLQUERYDEVICESEXTPROC)eglGetProcAddress("eglQueryDevicesEXT"); // NOLINT
        EGLDeviceEXT devices[16];
        EGLint ndev = 0;
        if (query_devices && query_devices(16, devices, &ndev)) {
            for (EGLint i = 0; i < ndev; ++i)
                if (try_display(eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr),
                                w, h, &step))
                    return true;
        }
    }
    std::snprintf(why, why_cap, "no OpenGL context without a display: %s", step);
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
