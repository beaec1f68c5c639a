#include <gtest/gtest.h>

#include "bridge/page_events.hpp"
#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

class MiniPlayerTest : public ReadyShellTest {
protected:
    long pipScripts(bool state) const {
        return std::count(platform.scripts.begin(), platform.scripts.end(), pipStateScript(state));
    }
};

TEST_F(MiniPlayerTest, EnterMovesThePageIntoOnePanel) {
    post("brindlemarPip", "enter");
    const std::vector<std::string> expected = {
        "createPanel", "createPlaceholder", "window.setContentView placeholder", "panel.setContentView",
        "panel.moveToBottomRight", "web.evaluateScript", "panel.orderFrontRegardless",
    };
    EXPECT_EQ(platform.calls, expected);
    ASSERT_EQ(platform.panels.size(), 1u);
    const PanelRecord& panel = *platform.panels[0];
    EXPECT_EQ(panel.config.title, "Brindlemar \u00b7 Miniatura");
    EXPECT_EQ(panel.config.title.size(), 23u);
    EXPECT_EQ(std::tuple(panel.config.width, panel.config.height, panel.config.minWidth, panel.config.minHeight,
                         panel.config.aspectWidth, panel.config.aspectHeight),
              std::tuple(480, 270, 320, 180, 16, 9));
    EXPECT_EQ(panel.position, "bottom-right 24,24");
    EXPECT_TRUE(panel.holdsWeb && panel.shown);
    EXPECT_EQ(platform.placeholders[0]->label, "Reproduciendo en miniatura");
    EXPECT_EQ(platform.placeholders[0]->buttonTitle, "Volver a la ventana");
    EXPECT_EQ(pipScripts(true), 1);

    platform.calls.clear();
    post("brindlemarPip", "enter");  // already shown
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(platform.panels.size(), 1u);
}

TEST_F(MiniPlayerTest, EveryWayBackRestoresThePageOnce) {
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"the page's exit", [&] { post("brindlemarPip", "exit"); }},
        {"the placeholder's button", [&] { platform.placeholders.back()->action(); }},
        {"the panel's close button",
         [&] {
             PanelRecord& panel = *platform.panels.back();
             EXPECT_FALSE(panel.shouldClose(*panel.panel));  // the shell closes it itself
         }},
    };
    for (const auto& [name, back] : ways) {
        SCOPED_TRACE(name);
        post("brindlemarPip", "enter");
        platform.windowVisible = false;
        platform.scripts.clear();
        back();
        EXPECT_FALSE(app->pipWindow);
        EXPECT_TRUE(platform.panels.back()->closed);
        EXPECT_EQ(platform.windowContent, app->web.get());
        EXPECT_FALSE(platform.placeholders.back()->alive);
        EXPECT_TRUE(platform.windowVisible);
        EXPECT_EQ(pipScripts(false), 1);
    }
    platform.scripts.clear();
    post("brindlemarPip", "exit");  // not shown: nothing
    EXPECT_TRUE(platform.scripts.empty());
}

TEST_F(MiniPlayerTest, OtherWindowsMayClose) {
    post("brindlemarPip", "enter");
    FakePlatform other;
    auto strayPanel = other.createPanel({}, {});
    EXPECT_TRUE(app->windowShouldClose(*strayPanel));
    EXPECT_TRUE(app->pipWindow);
}

TEST_F(MiniPlayerTest, PlaybackTravelsWithThePageOrIsCarriedBackOntoIt) {
    // Started before entering: it lies over the page and moves with it.
    app->startNative(*parseUrl("http://127.0.0.1:47874/media/1"), 0, "Peli", "original", "off");
    post("brindlemarPip", "enter");
    EXPECT_EQ(platform.playerViews.back()->over, "web");
    EXPECT_TRUE(platform.pressKey(true));  // Escape still ends it
    EXPECT_FALSE(app->playerView);
    EXPECT_TRUE(app->pipWindow);  // ending playback does not leave the mini-player

    // Started while the page is in the panel: over the placeholder, then carried back.
    app->startNative(*parseUrl("http://127.0.0.1:47874/media/2"), 0, "Otra", "original", "off");
    EXPECT_EQ(platform.playerViews.back()->over, "placeholder");
    post("brindlemarPip", "exit");
    EXPECT_EQ(platform.playerViews.back()->over, "web");
    EXPECT_TRUE(platform.playerViews.back()->inTree);
    EXPECT_TRUE(app->player);
}

TEST_F(MiniPlayerTest, ClosingTheMainWindowWhileThePanelIsOpenKeepsTheAppRunning) {
    post("brindlemarPip", "enter");
    platform.closeMainWindow();
    EXPECT_EQ(platform.quitCalls, 0);
    post("brindlemarPip", "exit");
    EXPECT_TRUE(platform.windowVisible);
}

}  // namespace
}  // namespace brindlemar::testing
