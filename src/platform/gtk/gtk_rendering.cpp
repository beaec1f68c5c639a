#include "platform/gtk/gtk_rendering.hpp"

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <filesystem>

namespace brindlemar::gtk {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

bool hasRenderNode() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error))
        if (entry.path().filename().string().starts_with("renderD")) return true;
    return false;
}

// The few EGL and GL names used below; libEGL is opened at run time, as the web
// engine does, so the program has no build dependency on its headers.
using EGLDisplay = void*;
using EGLContext = void*;
using EGLint = std::int32_t;
using EGLBoolean = unsigned int;
constexpr EGLint eglPlatformSurfacelessMesa = 0x31DD;
constexpr EGLint eglOpenglEsApi = 0x30A0;
constexpr EGLint eglContextClientVersion = 0x3098;
constexpr EGLint eglNone = 0x3038;
constexpr unsigned int glRenderer = 0x1F01;

// The renderer string of the default OpenGL ES driver, read through a surfaceless
// EGL display (no window, no connection to the display server).
std::optional<std::string> readRenderer() {
    void* egl = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!egl) return std::nullopt;
    // The library stays loaded: drivers do not expect to be unloaded, and the web
    // engine loads it anyway.
    auto getProc = reinterpret_cast<void* (*)(const char*)>(dlsym(egl, "eglGetProcAddress"));
    if (!getProc) return std::nullopt;
    auto getPlatformDisplay = reinterpret_cast<EGLDisplay (*)(EGLint, void*, const EGLint*)>(
        getProc("eglGetPlatformDisplayEXT"));
    auto initialize = reinterpret_cast<EGLBoolean (*)(EGLDisplay, EGLint*, EGLint*)>(
        getProc("eglInitialize"));
    auto terminate = reinterpret_cast<EGLBoolean (*)(EGLDisplay)>(getProc("eglTerminate"));
    auto bindApi = reinterpret_cast<EGLBoolean (*)(unsigned int)>(getProc("eglBindAPI"));
    auto createContext = reinterpret_cast<EGLContext (*)(EGLDisplay, void*, EGLContext, const EGLint*)>(
        getProc("eglCreateContext"));
    auto destroyContext = reinterpret_cast<EGLBoolean (*)(EGLDisplay, EGLContext)>(
        getProc("eglDestroyContext"));
    auto makeCurrent = reinterpret_cast<EGLBoolean (*)(EGLDisplay, void*, void*, EGLContext)>(
        getProc("eglMakeCurrent"));
    auto getString = reinterpret_cast<const unsigned char* (*)(unsigned int)>(getProc("glGetString"));
    if (!getPlatformDisplay || !initialize || !terminate || !bindApi || !createContext ||
        !destroyContext || !makeCurrent || !getString)
        return std::nullopt;

    EGLDisplay display = getPlatformDisplay(eglPlatformSurfacelessMesa, nullptr, nullptr);
    if (!display || !initialize(display, nullptr, nullptr)) return std::nullopt;
    std::optional<std::string> renderer;
    const EGLint attributes[] = {eglContextClientVersion, 2, eglNone};
    if (bindApi(eglOpenglEsApi)) {
        if (EGLContext context = createContext(display, nullptr, nullptr, attributes)) {
            if (makeCurrent(display, nullptr, nullptr, context)) {
                if (const unsigned char* text = getString(glRenderer))
                    renderer = reinterpret_cast<const char*>(text);
                makeCurrent(display, nullptr, nullptr, nullptr);
            }
            destroyContext(display, context);
        }
    }
    terminate(display);
    return renderer;
}

}  // namespace

RenderingPolicy RenderingPolicy::start() {
    RenderingFacts facts;
    facts.disableCompositingMode = environment("WEBKIT_DISABLE_COMPOSITING_MODE");
    facts.libglAlwaysSoftware = environment("LIBGL_ALWAYS_SOFTWARE");
    facts.renderNode = hasRenderNode();
    facts.overlayScrolling = environment("GTK_OVERLAY_SCROLLING");
    facts.videoOutput = environment("BRINDLEMAR_VIDEO_OUTPUT");

    RenderingPolicy policy;
    switch (decideCompositing(facts)) {
    case Compositing::UserChoice:
        // The player's choice may still need the renderer string.
        if (facts.renderNode && !facts.videoOutput) {
            policy.pending_ = std::async(std::launch::async, [facts]() mutable {
                facts.glRenderer = readRenderer();
                return facts;
            });
            break;
        }
        policy.videoRenderer_ = decideVideoRenderer(facts);
        policy.decided_ = true;
        break;
    case Compositing::Off:
        // The renderer string could only confirm this, so it is not read.
        setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
        // The web process reads this (it draws the scrollbars) from the environment it
        // inherits, so it is set here too, and only here.
        if (turnOffOverlayScrollbars(facts)) setenv("GTK_OVERLAY_SCROLLING", "0", 1);
        policy.videoRenderer_ = decideVideoRenderer(facts);
        policy.decided_ = true;
        break;
    case Compositing::Accelerated:
        // Only the renderer string can still turn it off.
        policy.pending_ = std::async(std::launch::async, [facts]() mutable {
            facts.glRenderer = readRenderer();
            return facts;
        });
        break;
    }
    return policy;
}

void RenderingPolicy::decide() {
    if (decided_) return;
    decided_ = true;
    const RenderingFacts facts = pending_.get();
    disableInSettings_ = decideCompositing(facts) == Compositing::Off;
    videoRenderer_ = decideVideoRenderer(facts);
}

bool RenderingPolicy::disableInSettings() {
    decide();
    return disableInSettings_;
}

VideoRenderer RenderingPolicy::videoRenderer() {
    decide();
    return videoRenderer_;
}

}  // namespace brindlemar::gtk
