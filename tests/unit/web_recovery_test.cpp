#include <gtest/gtest.h>

#include "shell/messages.hpp"
#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

void webDies(FakePlatform& platform) { platform.webEvents.webProcessTerminated(); }

TEST_F(ReadyShellTest, TheLibraryPageComesBackThreeTimesAMinuteThenTheUserIsAsked) {
    platform.loads.clear();
    for (int death = 1; death <= 3; ++death) {
        platform.advance(10s);
        webDies(platform);
        EXPECT_EQ(platform.loads.size(), static_cast<std::size_t>(death));
        EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
    }
    platform.advance(10s);
    webDies(platform);  // the fourth within a minute
    EXPECT_EQ(platform.statusMessage(), messages::pageCrashed);
    EXPECT_TRUE(platform.statusRetry());
    EXPECT_TRUE(app->ready);

    // Dying again under that message changes nothing; the user decides.
    webDies(platform);
    EXPECT_EQ(platform.loads.size(), 4u);

    // Retry brings the library page back, without touching the service.
    pressRetry();
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
    EXPECT_EQ(app->attempts, 0);
    EXPECT_EQ(platform.children.size(), 1u);
    EXPECT_EQ(platform.children[0]->terminations, 0);

    // The count starts afresh after a retry: three more reloads before asking again.
    for (int death = 1; death <= 3; ++death) webDies(platform);
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
    webDies(platform);
    EXPECT_EQ(platform.statusMessage(), messages::pageCrashed);
}

TEST_F(ReadyShellTest, DeathsSpreadOverMoreThanAMinuteKeepReloading) {
    platform.loads.clear();
    for (int death = 1; death <= 10; ++death) {
        webDies(platform);
        platform.advance(21s);  // never four within a minute
    }
    EXPECT_EQ(platform.urlLoads(), 10u);
    EXPECT_EQ(platform.statusMessage(), "");
}

TEST_F(ShellTest, UnderTheStatusPageTheSameMessageComesBack) {
    launch();
    platform.childExits(0);
    ASSERT_EQ(platform.statusMessage(), messages::serviceClosed);
    webDies(platform);
    EXPECT_EQ(platform.statusMessage(), messages::serviceClosed);
    EXPECT_TRUE(platform.statusRetry());
    EXPECT_EQ(platform.urlLoads(), 0u);

    for (int death = 2; death <= 4; ++death) webDies(platform);
    EXPECT_EQ(platform.statusMessage(), messages::pageCrashed);

    // Retry here shows the earlier message again rather than restarting the
    // service; that message's own button then restarts it.
    pressRetry();
    EXPECT_EQ(platform.statusMessage(), messages::serviceClosed);
    EXPECT_EQ(app->attempts, 0);
    pressRetry();
    EXPECT_EQ(app->attempts, 1);
    EXPECT_EQ(platform.statusMessage(), messages::preparing);
}

TEST_F(ShellTest, ReadinessAfterGivingUpLoadsTheLibraryAndRecoversAgain) {
    launch();
    for (int death = 1; death <= 4; ++death) webDies(platform);
    ASSERT_EQ(platform.statusMessage(), messages::pageCrashed);
    platform.childWrites(0, readinessLine);
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
    // A later death is handled again (the minute has not passed: it asks at once).
    webDies(platform);
    EXPECT_EQ(platform.statusMessage(), messages::pageCrashed);
    platform.advance(61s);
    pressRetry();
    webDies(platform);
    EXPECT_EQ(platform.loads.back(), "url:http://127.0.0.1:47874");
}

TEST_F(ShellTest, ADeathAfterTheShellIsGoneDoesNothing) {
    launch();
    WebViewEvents events = platform.webEvents;
    webDies(platform);
    app.reset();
    platform.advance(2min);  // the pending window timers find no delegate
    events.webProcessTerminated();
}

}  // namespace
}  // namespace brindlemar::testing
