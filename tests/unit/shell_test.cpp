#include <gtest/gtest.h>

#include "shell/messages.hpp"
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
        "loadPlayerPreferences",  // answered later; playback need not wait for it
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

// The page as the user's web view receives it, written out here byte for byte.
const std::string statusPageHead = R"(<html lang='es'><meta name='viewport' content='width=device-width'>
<style>
  html,body{height:100%;margin:0}
  body{background:#080A0D;color:#ECE8DF;font:15px -apple-system,system-ui,sans-serif;
       display:flex;flex-direction:column;align-items:center;justify-content:center;gap:26px}
  svg{width:64px;height:64px;fill:#F5F4EF}
  g{transform-origin:center;animation:pulse 2.4s cubic-bezier(.2,0,0,1) infinite}
  .br{animation-name:pulse-br}
  h1{font-size:29px;font-weight:650;letter-spacing:-.045em;margin:0}
  p{color:#929BA9;margin:0;font-size:14px;text-align:center;max-width:38ch;line-height:1.6}
  button{font:inherit;font-weight:600;color:#101216;background:#F5F4EF;border:0;border-radius:9px;padding:11px 22px;cursor:pointer}
  @keyframes pulse{0%,100%{transform:translate(0,0)}18%,55%{transform:translate(-11%,-11%)}73%{transform:translate(0,0)}}
  @keyframes pulse-br{0%,100%{transform:translate(0,0)}18%,55%{transform:translate(11%,11%)}73%{transform:translate(0,0)}}
  @media (prefers-reduced-motion:reduce){g{animation:none}}
</style>
<body>
  <svg viewBox='0 0 200 200' aria-hidden='true'>
    <g><rect x='20' y='20' width='76' height='26'/><rect x='20' y='20' width='26' height='76'/></g>
    <g class='br'><rect x='104' y='154' width='76' height='26'/><rect x='154' y='104' width='26' height='76'/></g>
  </svg>
  <h1>Brindlemar</h1><p>)";

TEST(StatusPage, BytesWithAndWithoutTheRetryButton) {
    EXPECT_EQ(statusPage("Hola", false), statusPageHead + "Hola</p>\n  \n</body></html>");
    EXPECT_EQ(statusPage("Hola", true),
              statusPageHead +
                  "Hola</p>\n  <button onclick=\"window.webkit.messageHandlers.brindlemarRetry.postMessage('go')\">"
                  "Volver a intentarlo</button>\n</body></html>");
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
