#include <gtest/gtest.h>

#include "shell/messages.hpp"
#include "shell/resources.hpp"
#include "shell/status_page.hpp"
#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

TEST_F(ShellTest, LaunchBuildsTheInterfaceInOrderThenShowsTheStatusPageThenStartsTheService) {
    launch();
    const std::vector<std::string> expected = {
        "setMainMenu",
        "createWebView",
        "web.setInspectable false",
        "createWindow 1280x800",
        "window.setTitle Brindlemar",
        "window.setMinSize 800x600",
        "window.setContentView web",
        "window.center",
        "window.makeKeyAndOrderFront",
        "activate",
        "web.loadHtml",
        "randomBytes 32",
        "launch /opt/brindlemar/share/brindlemar/node",
        "after 12000ms",
        "after 90000ms",
    };
    EXPECT_EQ(platform.calls, expected);
    EXPECT_EQ(platform.statusMessage(), "Preparando tu biblioteca\u2026");
    EXPECT_FALSE(platform.statusRetry());
}

TEST_F(ShellTest, MenuBarAndWebViewConfiguration) {
    launch();
    ASSERT_EQ(platform.menus.size(), 2u);
    const Menu& appMenu = platform.menus[0];
    EXPECT_EQ(appMenu.itemTitle, "");
    ASSERT_EQ(appMenu.items.size(), 1u);
    EXPECT_EQ(appMenu.items[0].title, "Salir de Brindlemar");
    EXPECT_EQ(appMenu.items[0].action, MenuAction::Quit);
    EXPECT_EQ(appMenu.items[0].key, "q");

    const Menu& edit = platform.menus[1];
    EXPECT_EQ(edit.itemTitle, "Editar");
    EXPECT_EQ(edit.title, "Editar");
    std::vector<std::tuple<std::string, MenuAction, std::string>> items;
    for (const auto& item : edit.items) items.emplace_back(item.title, item.action, item.key);
    const std::vector<std::tuple<std::string, MenuAction, std::string>> expected = {
        {"Copiar", MenuAction::Copy, "c"},
        {"Pegar", MenuAction::Paste, "v"},
        {"Cortar", MenuAction::Cut, "x"},
        {"Seleccionar todo", MenuAction::SelectAll, "a"},
    };
    EXPECT_EQ(items, expected);

    EXPECT_FALSE(platform.webConfig.mediaRequiresUserAction);
    EXPECT_EQ(platform.webConfig.messageHandlers,
              (std::vector<std::string>{"brindlemarPip", "brindlemarPlayer", "brindlemarRetry"}));
    ASSERT_EQ(platform.webConfig.userScripts.size(), 1u);
    EXPECT_EQ(platform.webConfig.userScripts[0].source, AppDelegate::awakeScript);
    EXPECT_TRUE(platform.webConfig.userScripts[0].atDocumentEnd);
    EXPECT_TRUE(platform.webConfig.userScripts[0].mainFrameOnly);
}

TEST_F(ShellTest, EditItemsActOnTheWebContentAndQuitTerminates) {
    launch();
    platform.calls.clear();
    platform.menuChosen(MenuAction::Copy);
    platform.menuChosen(MenuAction::SelectAll);
    platform.menuChosen(MenuAction::Quit);
    EXPECT_EQ(platform.calls, (std::vector<std::string>{"web.performEdit 1", "web.performEdit 4",
                                                        "child.terminate", "quit"}));
    EXPECT_TRUE(app->stopping);
}

TEST(StatusPage, BytesWithAndWithoutTheRetryButton) {
    EXPECT_EQ(resources::statusPageTemplate.size(), 1357u);
    EXPECT_EQ(resources::retryButton.size(), 110u);
    EXPECT_TRUE(resources::statusPageTemplate.ends_with("  <h1>Brindlemar</h1><p>"));

    const std::string base(resources::statusPageTemplate);
    EXPECT_EQ(statusPage("Hola", false), base + "Hola</p>\n  \n</body></html>");
    EXPECT_EQ(statusPage("Hola", true),
              base + "Hola</p>\n  " + std::string(resources::retryButton) + "\n</body></html>");
    EXPECT_EQ(std::string(resources::retryButton),
              "<button onclick=\"window.webkit.messageHandlers.brindlemarRetry.postMessage('go')\">"
              "Volver a intentarlo</button>");
}

TEST_F(ShellTest, TheLatestStatusPageWins) {
    launch();
    app->show("Primero", true);
    app->show("Segundo");
    EXPECT_EQ(platform.statusMessage(), "Segundo");
    EXPECT_FALSE(platform.statusRetry());
}

TEST_F(ShellTest, ClosingTheMainWindowQuitsOnlyWhenNothingElseIsOpen) {
    struct Case {
        const char* name;
        bool playing;
        bool miniPlayer;
        bool quits;
    };
    for (const Case& c : {Case{"idle", false, false, true}, Case{"native playback", true, false, false},
                          Case{"mini-player", false, true, false}, Case{"both", true, true, false}}) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        auto delegate = std::make_shared<AppDelegate>(p);
        delegate->applicationDidFinishLaunching();
        if (c.playing) delegate->playerView = p.createPlayerView(*delegate->web);
        if (c.miniPlayer) delegate->enterPip();
        p.closeMainWindow();
        EXPECT_EQ(p.quitCalls, c.quits ? 1 : 0);
        EXPECT_EQ(delegate->stopping, c.quits);
        EXPECT_EQ(p.lastChild().terminations, c.quits ? 1 : 0);
    }
}

TEST_F(ShellTest, QuittingWhileTheServiceStartsSilencesEverythingAfterwards) {
    launch();
    platform.advance(2s);
    platform.menuChosen(MenuAction::Quit);
    EXPECT_TRUE(app->stopping);
    EXPECT_EQ(platform.lastChild().terminations, 1);
    const auto loadsBefore = platform.loads;

    platform.childWrites(0, readinessLine + "\n");
    platform.childExits(0);
    platform.advance(100s);
    EXPECT_EQ(platform.loads, loadsBefore);  // no library page, no message
    EXPECT_TRUE(app->output.isEmpty());
    pressRetry();
    EXPECT_EQ(app->attempts, 0);
}

TEST_F(ShellTest, QuittingAfterAFailedLaunchSignalsNoChild) {
    platform.launchFails = true;
    launch();
    platform.calls.clear();
    app->terminate();
    EXPECT_EQ(platform.calls, (std::vector<std::string>{"quit"}));
}

TEST_F(ShellTest, ASecondLaunchPresentsTheMainWindowAgain) {
    launch();
    app->enterPip();
    platform.closeMainWindow();
    EXPECT_FALSE(platform.windowVisible);
    app->reopen();
    EXPECT_TRUE(platform.windowVisible);
    EXPECT_EQ(platform.children.size(), 1u);
    EXPECT_EQ(platform.quitCalls, 0);
}

}  // namespace
}  // namespace brindlemar::testing
