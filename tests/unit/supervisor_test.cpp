#include <random>
#include <gtest/gtest.h>

#include "shell/messages.hpp"
#include "supervisor/child_environment.hpp"
#include "supervisor/output_tail.hpp"
#include "supervisor/service_secret.hpp"
#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

std::string value(const Environment& env, const std::string& name) {
    for (const auto& [n, v] : env)
        if (n == name) return v;
    return "<unset>";
}

TEST(ChildEnvironment, DropsInheritedServiceVariablesAndSetsItsOwn) {
    const Environment inherited = {
        {"HOME", "/home/ana"},          {"NODE_OPTIONS", "--inspect"},
        {"NODE_PATH", "/tmp/evil"},     {"BRINDLEMAR_BIND", "0.0.0.0"},
        {"BRINDLEMAR_X", "1"},          {"PORT", "8080"},
        {"NODEJS", "keep"},             {"node_env", "keep"},
        {"BRINDLEMARX", "keep"},        {"MY_NODE_OPTIONS", "keep"},
        {"BRINDLEMAR_TOKEN", "stolen"},
    };
    const Environment env = childEnvironment(inherited, "/home/ana/.local/share/com.brindlemar.app", "s3cr3t");
    for (const char* gone : {"NODE_OPTIONS", "NODE_PATH", "BRINDLEMAR_X"}) EXPECT_EQ(value(env, gone), "<unset>") << gone;
    for (const char* kept : {"NODEJS", "node_env", "BRINDLEMARX", "MY_NODE_OPTIONS"}) EXPECT_EQ(value(env, kept), "keep") << kept;
    EXPECT_EQ(value(env, "HOME"), "/home/ana");
    EXPECT_EQ(value(env, "PORT"), "47874");
    EXPECT_EQ(value(env, "BRINDLEMAR_BIND"), "127.0.0.1");
    EXPECT_EQ(value(env, "BRINDLEMAR_DATA_DIR"), "/home/ana/.local/share/com.brindlemar.app");
    EXPECT_EQ(value(env, "BRINDLEMAR_TOKEN"), "s3cr3t");
    EXPECT_EQ(env.size(), 11u - 5u + 3u);  // five dropped, PORT replaced, three added
}

// ---- the launch secret ----

TEST_F(ShellTest, EachLaunchHasItsOwnSecretInTheEnvironmentAndNotOnTheCommandLine) {
    platform.env.emplace_back("BRINDLEMAR_TOKEN", "inherited-from-elsewhere");
    launch();
    platform.childExits(0);
    pressRetry();
    ASSERT_EQ(platform.children.size(), 2u);
    ASSERT_EQ(platform.randomDraws.size(), 2u);
    std::vector<std::string> secrets;
    for (std::size_t i = 0; i < 2; ++i) {
        const ChildCommand& command = platform.children[i]->command;
        const std::string secret = value(command.environment, "BRINDLEMAR_TOKEN");
        EXPECT_EQ(platform.randomDraws[i].size(), 32u);  // 256 bits from the system's generator
        EXPECT_EQ(secret, hexEncode(platform.randomDraws[i]));
        EXPECT_EQ(std::count_if(command.environment.begin(), command.environment.end(),
                                [](const auto& v) { return v.first == "BRINDLEMAR_TOKEN"; }),
                  1);
        for (const std::string& text : command.arguments) EXPECT_EQ(text.find(secret), std::string::npos);
        EXPECT_EQ(command.executable.find(secret), std::string::npos);
        secrets.push_back(secret);
    }
    EXPECT_NE(secrets[0], secrets[1]);
    EXPECT_EQ(app->serviceSecret, secrets[1]);
}

TEST_F(ShellTest, NoSecretFromTheSystemMeansNoServiceStarted) {
    platform.randomFails = true;
    launch();
    EXPECT_TRUE(platform.children.empty());
    EXPECT_EQ(platform.statusMessage(), messages::launchFailed);
    EXPECT_TRUE(platform.statusRetry());
}

TEST_F(ShellTest, TheServiceOriginIsLoadedOnlyOnceTheCookieIsInTheJar) {
    platform.holdCookieStores = true;
    launch();
    platform.childWrites(0, readinessLine + "\n");
    EXPECT_TRUE(app->ready);
    EXPECT_EQ(platform.urlLoads(), 0u);
    ASSERT_EQ(platform.pendingCookieStores.size(), 1u);
    EXPECT_NE(std::find(platform.calls.begin(), platform.calls.end(),
                        "web.addCookie brindlemar_token http://127.0.0.1:47874/ HttpOnly SameSite=Strict"),
              platform.calls.end());
    // More output and time pass; still nothing is loaded without the cookie.
    platform.childWrites(0, readinessLine + "\n");
    platform.advance(20s);
    EXPECT_EQ(platform.urlLoads(), 0u);
    EXPECT_EQ(platform.pendingCookieStores.size(), 1u);

    platform.completeCookieStores(true);
    ASSERT_EQ(platform.cookieJar.size(), 1u);
    EXPECT_EQ(platform.cookieJar[0].value, value(platform.lastChild().command.environment, "BRINDLEMAR_TOKEN"));
    EXPECT_EQ(platform.urlLoads(), 1u);
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
}

TEST_F(ShellTest, AFailedCookieStoreLoadsNothingAndOffersRetry) {
    platform.holdCookieStores = true;
    launch();
    platform.childWrites(0, readinessLine);
    platform.completeCookieStores(false);
    EXPECT_EQ(platform.urlLoads(), 0u);
    EXPECT_EQ(platform.statusMessage(), messages::cookieFailed);
    EXPECT_TRUE(platform.statusRetry());
    pressRetry();
    EXPECT_EQ(platform.children.size(), 2u);
    platform.childWrites(1, readinessLine);
    platform.completeCookieStores(true);
    EXPECT_EQ(platform.urlLoads(), 1u);
    EXPECT_EQ(platform.cookieJar.back().value, app->serviceSecret);
}

TEST_F(ShellTest, ACookieStoreThatCompletesAfterQuitOrRestartLoadsNothing) {
    for (bool quit : {true, false}) {
        SCOPED_TRACE(quit ? "quit" : "restart");
        FakePlatform p;
        p.holdCookieStores = true;
        auto delegate = std::make_shared<AppDelegate>(p);
        delegate->applicationDidFinishLaunching();
        p.childWrites(0, readinessLine);
        if (quit) {
            p.menuChosen(MenuAction::Quit);
        } else {
            delegate->restartBackend();
        }
        p.completeCookieStores(true);
        EXPECT_EQ(p.urlLoads(), 0u);
    }
}

TEST_F(ShellTest, TheServiceIsStartedFromTheResourcesDirectory) {
    platform.env.emplace_back("NODE_OPTIONS", "--require=/tmp/x.js");
    launch();
    const ChildCommand& command = platform.lastChild().command;
    EXPECT_EQ(command.executable, "/opt/brindlemar/share/brindlemar/node");
    EXPECT_EQ(command.arguments, (std::vector<std::string>{"/opt/brindlemar/share/brindlemar/backend/server.js"}));
    EXPECT_EQ(command.workingDirectory, "/opt/brindlemar/share/brindlemar/backend");
    EXPECT_EQ(value(command.environment, "BRINDLEMAR_DATA_DIR"), "/home/ana/.local/share/com.brindlemar.app");
    EXPECT_EQ(value(command.environment, "NODE_OPTIONS"), "<unset>");
    EXPECT_TRUE(app->backend);
}

// ---- the failures the status page tells, with the two delayed checks ----

TEST_F(ShellTest, MissingResourcesStartNothingAndArmNoCheck) {
    platform.resources.reset();
    launch();
    EXPECT_TRUE(platform.children.empty());
    EXPECT_EQ(platform.pendingWork(), 0u);
    EXPECT_EQ(platform.statusMessage(), messages::noResources);
    EXPECT_FALSE(platform.statusRetry());
}

TEST_F(ShellTest, FailedLaunchOffersRetryAndIsReplacedBySlowStartAt90Seconds) {
    platform.launchFails = true;
    launch();
    EXPECT_FALSE(app->backend);
    EXPECT_EQ(platform.statusMessage(), messages::launchFailed);
    EXPECT_TRUE(platform.statusRetry());
    platform.advanceTo(12s);  // no child: the authorization check says nothing
    EXPECT_EQ(platform.statusMessage(), messages::launchFailed);
    platform.advanceTo(90s);
    EXPECT_EQ(platform.statusMessage(), messages::slowStart);
    EXPECT_TRUE(platform.statusRetry());
}

TEST_F(ShellTest, ARunningServiceNotReadyGetsTheAuthorizationThenTheSlowStartMessage) {
    launch();
    platform.advanceTo(11999ms);
    EXPECT_EQ(platform.statusMessage(), messages::preparing);
    platform.advanceTo(12s);
    EXPECT_EQ(platform.statusMessage(), messages::authorization);
    EXPECT_FALSE(platform.statusRetry());
    platform.advanceTo(90s);
    EXPECT_EQ(platform.statusMessage(), messages::slowStart);
    EXPECT_TRUE(platform.statusRetry());
    EXPECT_EQ(platform.lastChild().terminations, 0);
}

TEST_F(ShellTest, AServiceThatExitsEarlyIsToldAndOnlyTheSlowStartCheckFollows) {
    launch();
    platform.advanceTo(2s);
    platform.childExits(0);
    EXPECT_EQ(platform.statusMessage(), messages::serviceClosed);
    EXPECT_TRUE(platform.statusRetry());
    EXPECT_TRUE(app->backend);
    EXPECT_FALSE(app->backend->isRunning());
    platform.advanceTo(12s);
    EXPECT_EQ(platform.statusMessage(), messages::serviceClosed);
    platform.advanceTo(90s);
    EXPECT_EQ(platform.statusMessage(), messages::slowStart);
}

TEST_F(ShellTest, ChecksOfAnEarlierLaunchFindTheGenerationChanged) {
    launch();
    platform.advanceTo(3s);
    platform.childExits(0);
    platform.advanceTo(5s);
    pressRetry();
    EXPECT_EQ(app->attempts, 1);
    EXPECT_EQ(platform.statusMessage(), messages::preparing);
    platform.advanceTo(12s);  // first launch's check: stale
    EXPECT_EQ(platform.statusMessage(), messages::preparing);
    platform.advanceTo(17s);  // relaunch's own check
    EXPECT_EQ(platform.statusMessage(), messages::authorization);
    platform.advanceTo(90s);  // first launch's slow-start check: stale
    EXPECT_EQ(platform.statusMessage(), messages::authorization);
    platform.advanceTo(95s);
    EXPECT_EQ(platform.statusMessage(), messages::slowStart);
}

TEST_F(ShellTest, ReadinessAfterTheAuthorizationMessageDisarmsTheSlowStartCheck) {
    launch();
    platform.advanceTo(12s);
    EXPECT_EQ(platform.statusMessage(), messages::authorization);
    platform.advanceTo(40s);
    platform.childWrites(0, readinessLine + "\n");
    EXPECT_TRUE(app->ready);
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
    platform.advanceTo(200s);
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
}

// ---- output, readiness, exit ----

TEST_F(ShellTest, ReadinessIsFoundInTheTailOfTheOutput) {
    const std::string filler4049(4049, 'x');
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        std::size_t readyAfterChunk;  // 0: never
    };
    const std::vector<Case> cases = {
        {"three chunks", {"Brindlemar dispo", "nible en http://127.0.0", ".1:47874\n"}, 3},
        {"after other text on the line", {"[server] " + readinessLine}, 1},
        {"followed by 4049 characters", {readinessLine + filler4049}, 1},
        {"followed by 4050 characters", {readinessLine + filler4049 + "y"}, 0},
        {"a later copy after 4050", {readinessLine + filler4049 + "y", "z" + readinessLine}, 2},
        {"after more than 4096 other characters", {std::string(5000, 'a'), readinessLine}, 2},
        {"split after a long output", {std::string(5000, 'a') + "Brindlemar disponible", " en http://127.0.0.1:47874"}, 2},
        {"wrong case", {"brindlemar disponible en http://127.0.0.1:47874"}, 0},
        {"other port", {"Brindlemar disponible en http://127.0.0.1:47875"}, 0},
        {"other host", {"Brindlemar disponible en http://localhost:47874"}, 0},
        {"line broken in two", {"Brindlemar disponible\nen http://127.0.0.1:47874"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        auto delegate = std::make_shared<AppDelegate>(p);
        delegate->applicationDidFinishLaunching();
        std::size_t readyAt = 0;
        for (std::size_t i = 0; i < c.chunks.size(); ++i) {
            p.childWrites(0, c.chunks[i]);
            if (delegate->ready && !readyAt) readyAt = i + 1;
        }
        EXPECT_EQ(readyAt, c.readyAfterChunk);
        EXPECT_EQ(p.urlLoads(), c.readyAfterChunk ? 1u : 0u);
        EXPECT_LE(delegate->output.length(), 4096);
    }
}

TEST_F(ShellTest, TheServiceOriginIsLoadedOnceWithTheRequestTimeout) {
    launch();
    platform.childWrites(0, readinessLine + "\n" + readinessLine + "\n");
    platform.childWrites(0, std::string(5000, '.') + readinessLine);
    EXPECT_EQ(platform.urlLoads(), 1u);
    EXPECT_NE(std::find(platform.calls.begin(), platform.calls.end(),
                        "web.loadRequest http://127.0.0.1:47874 60s"),
              platform.calls.end());
    // Output after readiness is still kept, bounded.
    EXPECT_EQ(app->output.length(), 4096);
}

TEST(OutputTail, DecodingAndTrimmingByUserPerceivedCharacters) {
    // Ill-formed bytes, and a character split between chunks, become U+FFFD.
    EXPECT_EQ(decodeChunk("a\xff" "b"), icu::UnicodeString(u"a\uFFFDb"));
    EXPECT_EQ(decodeChunk("\xc3"), icu::UnicodeString(u"\uFFFD"));
    EXPECT_EQ(decodeChunk("\xa9z"), icu::UnicodeString(u"\uFFFDz"));

    // A base letter with its combining accent counts once.
    icu::UnicodeString text;
    for (int i = 0; i < 5000; ++i) text.append(u"e\u0301");
    keepLastCharacters(text, 4096);
    EXPECT_EQ(text.length(), 2 * 4096);
    EXPECT_EQ(text.charAt(0), u'e');

    icu::UnicodeString shortText(u"hola");
    keepLastCharacters(shortText, 4096);
    EXPECT_EQ(shortText, icu::UnicodeString(u"hola"));
}

// The tail kept chunk by chunk is exactly what decoding each whole chunk, appending
// it and trimming by user-perceived characters gives.
void expectSameTailAsWholeDecoding(const std::vector<std::string>& chunks, std::int32_t limit) {
    icu::UnicodeString expected, actual;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        expected.append(decodeChunk(chunks[i]));
        keepLastCharacters(expected, limit);
        appendToTail(actual, chunks[i], limit);
        ASSERT_EQ(actual, expected) << "after chunk " << i + 1 << " with limit " << limit;
    }
}

std::string repeated(const std::string& piece, std::size_t bytes) {
    std::string out;
    while (out.size() < bytes) out += piece;
    return out;
}

TEST(OutputTail, LargeChunksKeepTheSameTail) {
    const std::string asciiLines = repeated(std::string(127, 'l') + "\n", 64 * 1024);
    const std::string spanishLines = repeated("ñandú, acción \xF0\x9F\x87\xAA\xF0\x9F\x87\xB8 e\xCC\x81\r\n", 64 * 1024);
    const std::string flags = "\xF0\x9F\x87\xAA";  // one regional indicator; pairs make a flag
    const std::string longMark = "e" + repeated("\xCC\x81", 40000);  // one character, no line feed
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
    };
    const std::vector<Case> cases = {
        {"ASCII lines", {asciiLines, asciiLines, "no line end", asciiLines}},
        {"non-ASCII lines", {spanishLines, spanishLines.substr(1), spanishLines}},
        {"ASCII after non-ASCII", {spanishLines, asciiLines, spanishLines.substr(0, 100)}},
        {"odd flags after a line feed", {repeated(flags, 9004) + "\n" + repeated(flags, 5001 * 4)}},
        {"a character longer than the window", {asciiLines + longMark + "\nab", longMark}},
        {"ill-formed bytes", {std::string(70000, '\xff') + "\nab\xE2\x82", "\xAC" + asciiLines}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::int32_t limit : {4096, 7}) expectSameTailAsWholeDecoding(c.chunks, limit);
    }
}

TEST(OutputTail, SmallChunksKeepTheSameTail) {
    // Pieces whose characters depend on their neighbours: CR LF (also split between
    // chunks), combining marks, a prepended mark (U+0600) that joins the next letter,
    // regional indicators, and bytes that are ill-formed or split between chunks.
    // Plain ASCII is drawn more often, so that the last characters are often ASCII.
    const std::vector<std::string> pieces = {
        "a", "b", "c", "\r", "\n", "\r\n", "\r", "\n", "\xCC\x81", "\xF0\x9F\x87\xAA",
        "\xC3\xB1", "\xD8\x80", "\xE2\x82", "\xAC", "\xFF", "xyz\n"};
    std::mt19937 random(12);
    for (int run = 0; run < 400; ++run) {
        std::vector<std::string> chunks(1 + random() % 8);
        for (std::string& chunk : chunks)
            for (std::size_t n = random() % 12; n > 0; --n) chunk += pieces[random() % pieces.size()];
        const auto limit = static_cast<std::int32_t>(1 + random() % 9);
        expectSameTailAsWholeDecoding(chunks, limit);
        if (HasFatalFailure()) return;
    }
}

TEST_F(ShellTest, AnExitAfterReadinessIsToldAndRetryBringsTheLibraryBack) {
    launch();
    platform.childWrites(0, readinessLine);
    platform.childWrites(0, "GET /\n");
    platform.childExits(0);
    EXPECT_EQ(platform.statusMessage(), messages::serviceClosed);
    EXPECT_TRUE(platform.statusRetry());
    EXPECT_FALSE(app->ready);
    EXPECT_TRUE(app->output.isEmpty());  // the old readiness line cannot count again

    pressRetry();
    EXPECT_EQ(app->attempts, 1);
    EXPECT_EQ(platform.children.size(), 2u);
    EXPECT_EQ(platform.statusMessage(), messages::preparing);
    EXPECT_FALSE(app->ready);
    platform.childWrites(1, readinessLine);
    EXPECT_TRUE(app->ready);
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
    EXPECT_EQ(platform.urlLoads(), 2u);
}

// ---- restart ----

TEST_F(ShellTest, RetryRestartsAtMostFiveTimes) {
    launch();
    for (int press = 1; press <= 6; ++press) {
        platform.childExits(platform.children.size() - 1);
        pressRetry();
        EXPECT_EQ(app->attempts, std::min(press, 5));
    }
    EXPECT_EQ(platform.children.size(), 6u);  // the first launch and five restarts
    EXPECT_EQ(platform.statusMessage(), messages::serviceClosed);
}

TEST_F(ShellTest, RetryWhileTheOldServiceRunsTerminatesItAndStartsAfresh) {
    launch();
    platform.childWrites(0, "Brindlemar dispo");
    platform.advanceTo(90s);
    ASSERT_EQ(platform.statusMessage(), messages::slowStart);
    pressRetry();
    EXPECT_EQ(platform.children[0]->terminations, 1);
    EXPECT_TRUE(app->output.isEmpty());
    EXPECT_EQ(platform.statusMessage(), messages::preparing);
    EXPECT_EQ(platform.children.size(), 2u);

    // The old child's exit belongs to the replaced launch: the new child keeps
    // "Preparando tu biblioteca…", and its own exit is still told.
    const auto loads = platform.loads;
    platform.childExits(0);
    EXPECT_EQ(platform.loads, loads);
    platform.childExits(1);
    EXPECT_EQ(platform.statusMessage(), messages::serviceClosed);
    pressRetry();
    platform.childWrites(2, readinessLine);
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
}

TEST_F(ShellTest, RetryMessagesAreTakenOnlyFromTheStatusPageBeforeReadiness) {
    launch();
    platform.childExits(0);
    post("brindlemarRetry", "go", "", 0, /*mainFrame=*/false);
    post("brindlemarRetry", "go", "127.0.0.1", 47874);
    post("brindlemarRetry", "go", "example.com", 0);
    EXPECT_EQ(app->attempts, 0);
    post("brindlemarRetry", BodyValue(), "", 0);  // the body is not read
    EXPECT_EQ(app->attempts, 1);
    platform.childWrites(1, readinessLine);
    pressRetry();
    EXPECT_EQ(app->attempts, 1);
}

}  // namespace
}  // namespace brindlemar::testing
