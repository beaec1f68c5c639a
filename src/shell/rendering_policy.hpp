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

}  // namespace brindlemar
