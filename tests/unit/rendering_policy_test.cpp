#include <gtest/gtest.h>

#include "shell/rendering_policy.hpp"

namespace brindlemar::testing {
namespace {

// Overlay scrollbars go wherever compositing goes, unless the user chose for them.
TEST(RenderingPolicy, CompositingAndOverlayScrollbarsFollowTheRendererAndTheUsersChoice) {
    using C = Compositing;
    const std::string intel = "Mesa Intel(R) UHD Graphics 620 (KBL GT2)";
    const std::string llvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits)";
    struct Case {
        const char* name;
        RenderingFacts facts;
        Compositing expected;
        bool overlayScrollbarsOff;
    };
    const std::vector<Case> cases = {
        {"hardware GPU", {{}, {}, true, intel, {}}, C::Accelerated, false},
        {"GPU whose renderer could not be read", {{}, {}, true, {}, {}}, C::Accelerated, false},
        {"llvmpipe", {{}, {}, true, llvmpipe, {}}, C::Off, true},
        {"softpipe", {{}, {}, true, "softpipe", {}}, C::Off, true},
        {"classic software rasterizer", {{}, {}, true, "Software Rasterizer", {}}, C::Off, true},
        {"renderer named in upper case", {{}, {}, true, "LLVMPIPE (LLVM 16)", {}}, C::Off, true},
        {"virtual machine GPU with host acceleration", {{}, {}, true, "virgl (AMD Radeon)", {}}, C::Accelerated, false},
        {"no render node", {{}, {}, false, {}, {}}, C::Off, true},
        {"no render node, renderer read anyway", {{}, {}, false, intel, {}}, C::Off, true},
        {"LIBGL_ALWAYS_SOFTWARE=1 on a GPU", {{}, "1", true, intel, {}}, C::Off, true},
        {"LIBGL_ALWAYS_SOFTWARE=true", {{}, "true", true, intel, {}}, C::Off, true},
        {"LIBGL_ALWAYS_SOFTWARE=Yes", {{}, "Yes", true, intel, {}}, C::Off, true},
        {"LIBGL_ALWAYS_SOFTWARE=0", {{}, "0", true, intel, {}}, C::Accelerated, false},
        {"LIBGL_ALWAYS_SOFTWARE empty", {{}, "", true, intel, {}}, C::Accelerated, false},
        {"user disabled compositing on a GPU", {"1", {}, true, intel, {}}, C::UserChoice, false},
        {"user set it to 0 on llvmpipe", {"0", {}, true, llvmpipe, {}}, C::UserChoice, false},
        {"user set it empty without a GPU", {"", "1", false, {}, {}}, C::UserChoice, false},
        {"user chose overlay scrollbars without a GPU", {{}, {}, false, {}, "1"}, C::Off, false},
        {"user chose classic scrollbars on a GPU", {{}, {}, true, intel, "0"}, C::Accelerated, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decideCompositing(c.facts), c.expected);
        EXPECT_EQ(turnOffOverlayScrollbars(c.facts), c.overlayScrollbarsOff);
    }
}

// The player draws through OpenGL only on a hardware GPU, unless the user chose.
TEST(RenderingPolicy, VideoRendererFollowsTheGpuAndTheUsersChoice) {
    using V = VideoRenderer;
    const std::string intel = "Mesa Intel(R) UHD Graphics 620 (KBL GT2)";
    const std::string llvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits)";
    struct Case {
        const char* name;
        RenderingFacts facts;
        VideoRenderer expected;
    };
    const std::vector<Case> cases = {
        {"hardware GPU", {{}, {}, true, intel, {}, {}}, V::OpenGL},
        {"llvmpipe", {{}, {}, true, llvmpipe, {}, {}}, V::Software},
        {"no render node", {{}, {}, false, {}, {}, {}}, V::Software},
        {"LIBGL_ALWAYS_SOFTWARE on a GPU", {{}, "1", true, intel, {}, {}}, V::Software},
        {"compositing turned off by the user on a GPU", {"1", {}, true, intel, {}, {}}, V::OpenGL},
        {"compositing turned off by the user on llvmpipe", {"1", {}, true, llvmpipe, {}, {}}, V::Software},
        {"user chose OpenGL on llvmpipe", {{}, {}, true, llvmpipe, {}, "OpenGL"}, V::OpenGL},
        {"user chose software on a GPU", {{}, {}, true, intel, {}, "software"}, V::Software},
        {"unknown choice is ignored", {{}, {}, true, llvmpipe, {}, "vulkan"}, V::Software},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decideVideoRenderer(c.facts), c.expected);
    }
}

}  // namespace
}  // namespace brindlemar::testing
