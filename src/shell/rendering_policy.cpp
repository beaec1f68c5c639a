#include "shell/rendering_policy.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace brindlemar {

namespace {

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Mesa reads LIBGL_ALWAYS_SOFTWARE as a boolean: "1", "true", "y" and "yes" (in any
// case) force its software rasterizer; anything else leaves the driver alone.
bool mesaTrue(const std::string& value) {
    const std::string v = lowercase(value);
    return v == "1" || v == "true" || v == "y" || v == "yes";
}

// Renderer strings of OpenGL implementations that draw on the CPU.
constexpr std::array<std::string_view, 7> softwareRenderers = {
    "llvmpipe", "softpipe", "swrast", "software rasterizer", "lavapipe", "swiftshader",
    "microsoft basic render"};

}  // namespace

Compositing decideCompositing(const RenderingFacts& facts) {
    if (facts.disableCompositingMode) return Compositing::UserChoice;
    if (facts.libglAlwaysSoftware && mesaTrue(*facts.libglAlwaysSoftware)) return Compositing::Off;
    if (!facts.renderNode) return Compositing::Off;
    if (facts.glRenderer) {
        const std::string renderer = lowercase(*facts.glRenderer);
        for (std::string_view name : softwareRenderers)
            if (renderer.find(name) != std::string::npos) return Compositing::Off;
    }
    // A render node whose renderer could not be read is still taken for a GPU: turning
    // compositing off on real hardware would cost smooth video and animation.
    return Compositing::Accelerated;
}

bool turnOffOverlayScrollbars(const RenderingFacts& facts) {
    return !facts.overlayScrolling && decideCompositing(facts) == Compositing::Off;
}

VideoRenderer decideVideoRenderer(const RenderingFacts& facts) {
    if (facts.videoOutput) {
        const std::string choice = lowercase(*facts.videoOutput);
        if (choice == "opengl") return VideoRenderer::OpenGL;
        if (choice == "software") return VideoRenderer::Software;
    }
    // The user's own compositing choice says nothing about the GPU: judged without it.
    RenderingFacts machine = facts;
    machine.disableCompositingMode.reset();
    return decideCompositing(machine) == Compositing::Accelerated ? VideoRenderer::OpenGL
                                                                  : VideoRenderer::Software;
}

}  // namespace brindlemar
