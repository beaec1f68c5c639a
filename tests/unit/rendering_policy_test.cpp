#include <gtest/gtest.h>

#include "shell/rendering_policy.hpp"

namespace brindlemar::testing {
namespace {

TEST(RenderingPolicy, CompositingFollowsTheRendererAndTheUsersChoice) {
    using C = Compositing;
    const std::string intel = "Mesa Intel(R) UHD Graphics 620 (KBL GT2)";
    const std::string llvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits)";
    struct Case {
        const char* name;
        RenderingFacts facts;
        Compositing expected;
    };
    const std::vector<Case> cases = {
        {"hardware GPU", {{}, {}, true, intel, {}}, C::Accelerated},
        {"GPU whose renderer could not be read", {{}, {}, true, {}, {}}, C::Accelerated},
        {"llvmpipe", {{}, {}, true, llvmpipe, {}}, C::Off},
        {"softpipe", {{}, {}, true, "softpipe", {}}, C::Off},
        {"classic software rasterizer", {{}, {}, true, "Software Rasterizer", {}}, C::Off},
        {"renderer named in upper case", {{}, {}, true, "LLVMPIPE (LLVM 16)", {}}, C::Off},
        {"virtual machine GPU with host acceleration", {{}, {}, true, "virgl (AMD Radeon)", {}}, C::Accelerated},
        {"no render node", {{}, {}, false, {}, {}}, C::Off},
        {"no render node, renderer read anyway", {{}, {}, false, intel, {}}, C::Off},
        {"LIBGL_ALWAYS_SOFTWARE=1 on a GPU", {{}, "1", true, intel, {}}, C::Off},
        {"LIBGL_ALWAYS_SOFTWARE=true", {{}, "true", true, intel, {}}, C::Off},
        {"LIBGL_ALWAYS_SOFTWARE=Yes", {{}, "Yes", true, intel, {}}, C::Off},
        {"LIBGL_ALWAYS_SOFTWARE=0", {{}, "0", true, intel, {}}, C::Accelerated},
        {"LIBGL_ALWAYS_SOFTWARE empty", {{}, "", true, intel, {}}, C::Accelerated},
        {"user disabled compositing on a GPU", {"1", {}, true, intel, {}}, C::UserChoice},
        {"user set it to 0 on llvmpipe", {"0", {}, true, llvmpipe, {}}, C::UserChoice},
        {"user set it empty without a GPU", {"", "1", false, {}, {}}, C::UserChoice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decideCompositing(c.facts), c.expected);
    }
}

TEST(RenderingPolicy, OverlayScrollbarsGoWithCompositingUnlessTheUserChose) {
    const std::string intel = "Mesa Intel(R) UHD Graphics 620 (KBL GT2)";
    struct Case {
        const char* name;
        RenderingFacts facts;
        bool turnedOff;
    };
    const std::vector<Case> cases = {
        {"no render node", {{}, {}, false, {}, {}}, true},
        {"LIBGL_ALWAYS_SOFTWARE=1", {{}, "1", true, intel, {}}, true},
        {"llvmpipe", {{}, {}, true, "llvmpipe (LLVM 15.0.6, 256 bits)", {}}, true},
        {"hardware GPU", {{}, {}, true, intel, {}}, false},
        {"user chose overlay scrollbars", {{}, {}, false, {}, "1"}, false},
        {"user chose classic scrollbars", {{}, {}, true, intel, "0"}, false},
        {"user chose compositing without a GPU", {"0", {}, false, {}, {}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(turnOffOverlayScrollbars(c.facts), c.turnedOff);
    }
}

}  // namespace
}  // namespace brindlemar::testing
