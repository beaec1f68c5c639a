#pragma once

#include <optional>
#include <string>

namespace brindlemar {

// What the machine reports about its graphics, gathered once at start-up.
struct RenderingFacts {
    std::optional<std::string> disableCompositingMode;  // WEBKIT_DISABLE_COMPOSITING_MODE, if set
    std::optional<std::string> libglAlwaysSoftware;     // LIBGL_ALWAYS_SOFTWARE, if set
    bool renderNode = false;                            // a DRM render node exists
    std::optional<std::string> glRenderer;              // the EGL/GL renderer string, if read
    std::optional<std::string> overlayScrolling;        // GTK_OVERLAY_SCROLLING, if set
    std::optional<std::string> videoOutput;             // BRINDLEMAR_VIDEO_OUTPUT, if set
};

enum class Compositing {
    UserChoice,   // the user set WEBKIT_DISABLE_COMPOSITING_MODE: leave it to the engine
    Accelerated,  // a hardware GPU: keep the engine's accelerated compositing
    Off,          // a software renderer or no usable GPU: composite without OpenGL
};

// Accelerated compositing pays off only on a real GPU. On a software OpenGL renderer
// every composited frame is drawn by the CPU, which costs far more than the engine's
// non-composited drawing, so there it is turned off.
Compositing decideCompositing(const RenderingFacts& facts);

// The engine's overlay scrollbars fade in over the page after each load and scroll, and
// out again a moment later; without compositing, the engine draws every step of that on
// the CPU (a third of a second of CPU after each page load of a long library, against a
// few hundredths with classic scrollbars). So they are turned off wherever compositing
// is turned off, unless the user set GTK_OVERLAY_SCROLLING.
bool turnOffOverlayScrollbars(const RenderingFacts& facts);

enum class VideoRenderer {
    Software,  // the player draws its pictures on the CPU, into memory
    OpenGL,    // the player draws through OpenGL, on the GPU
};

// The native player draws through OpenGL where the web engine composites on a
// hardware GPU, and on the CPU elsewhere (a software OpenGL renderer would only add
// copies to the same CPU work). BRINDLEMAR_VIDEO_OUTPUT ("opengl" or "software", in
// any case) is the user's own choice and wins; another value is ignored.
VideoRenderer decideVideoRenderer(const RenderingFacts& facts);

}  // namespace brindlemar
