// EGL set-up for offline rendering: the surfaceless platform first, then the default display, both
// without a surface, binding the desktop GL API at version 2.1.

#include "HeadlessContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#if defined(__SANITIZE_ADDRESS__)
#include <cstring>

#include <dlfcn.h>
#include <link.h>
#endif

namespace {

EGLDisplay openDisplay() {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
            return display;
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
        return display;
    return EGL_NO_DISPLAY;
}

#if defined(__SANITIZE_ADDRESS__)
// The GL driver is unloaded at exit, before the leak check, which would then take the memory it still
// holds for leaks; pinned in memory, that memory stays reachable.
void pinDriver() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            if (std::strstr(info->dlpi_name, "_dri.so") || std::strstr(info->dlpi_name, "_mesa.so"))
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}
#endif

} // namespace

HeadlessContext::HeadlessContext() = default;

HeadlessContext::~HeadlessContext() {
    if (_display) {
        eglMakeCurrent(_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (_context)
            eglDestroyContext(_display, _context);
        eglTerminate(_display);
    }
}

bool HeadlessContext::create() {
    EGLDisplay display = openDisplay();
    if (display == EGL_NO_DISPLAY) {
        _error = "no EGL display";
        return false;
    }
    _display = display;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        _error = "EGL cannot bind desktop OpenGL";
        return false;
    }
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 2, EGL_CONTEXT_MINOR_VERSION, 1, EGL_NONE};
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) {
        _error = "EGL cannot create an OpenGL 2.1 context without a configuration";
        return false;
    }
    _context = context;
#if defined(__SANITIZE_ADDRESS__)
    pinDriver();
#endif
    if (!makeCurrent()) {
        eglDestroyContext(display, context);
        _context = nullptr;
        _error = "EGL cannot make a context current without a surface";
        return false;
    }
    return true;
}

bool HeadlessContext::makeCurrent() {
    return _context && eglMakeCurrent(_display, EGL_NO_SURFACE, EGL_NO_SURFACE, _context) == EGL_TRUE;
}
