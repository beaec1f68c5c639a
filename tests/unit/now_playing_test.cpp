#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "bridge/page_events.hpp"
#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

class NowPlayingTest : public ReadyShellTest {
protected:
    void start(double position = 0, const std::string& title = "Peli") {
        app->startNative(*parseUrl("http://127.0.0.1:47874/media/1"), position, title, "original", "off");
        platform.runPosted();
    }
    NowPlayingRecord& published() { return *platform.nowPlaying.back(); }
    PlayerRecord& player() { return platform.lastPlayer(); }
    void setTimeControl(TimeControlStatus status) {
        platform.setTimeControl(player(), status);
        platform.runPosted();
    }
    std::vector<std::string> playerCalls() const {
        std::vector<std::string> out;
        std::copy_if(platform.calls.begin(), platform.calls.end(), std::back_inserter(out),
                     [](const std::string& c) { return c.starts_with("player.") && !c.starts_with("player.add") &&
                                                       !c.starts_with("player.remove"); });
        return out;
    }
};

TEST_F(NowPlayingTest, EachPlaybackIsPublishedWithItsOwnTrackAndWithdrawnWhenItEnds) {
    start(0, "Peli");
    ASSERT_EQ(platform.nowPlaying.size(), 1u);
    EXPECT_TRUE(published().published);
    EXPECT_EQ(published().info.title, "Peli");
    EXPECT_EQ(published().info.trackId, "/com/brindlemar/app/track/1");
    EXPECT_FALSE(published().info.duration);

    start(0, "Otra");  // the first one goes before the second appears
    ASSERT_EQ(platform.nowPlaying.size(), 2u);
    EXPECT_FALSE(platform.nowPlaying[0]->published);
    EXPECT_TRUE(published().published);
    EXPECT_EQ(published().info.trackId, "/com/brindlemar/app/track/2");

    // Every way native playback ends withdraws it.
    const std::vector<std::pair<const char*, std::function<void()>>> endings = {
        {"escape", [&] { platform.pressKey(true); }},
        {"back button", [&] { platform.playerViews.back()->back(); }},
        {"page stop", [&] { post("brindlemarPlayer", BodyValue::Object{{"action", BodyValue("stop")}}); }},
        {"failed item", [&] { platform.setItemStatus(player(), ItemStatus::Failed); platform.runPosted(); }},
    };
    for (const auto& [name, end] : endings) {
        start();
        end();
        EXPECT_FALSE(published().published) << name;
        EXPECT_FALSE(app->nowPlaying) << name;
    }
}

TEST_F(NowPlayingTest, StatusAndDurationAreAnnouncedOncePerChange) {
    start();
    player().timeControl = TimeControlStatus::WaitingToPlay;
    setTimeControl(TimeControlStatus::Playing);
    setTimeControl(TimeControlStatus::Playing);
    setTimeControl(TimeControlStatus::Paused);
    platform.tick(player(), 1.0);  // duration not known yet: nothing new
    player().duration = 1200.0;
    platform.tick(player(), 2.0);
    platform.tick(player(), 3.0);
    player().duration = INFINITY;  // a live stream never gets a length
    start();
    platform.tick(player(), 1.0);

    std::vector<std::pair<NowPlayingStatus, std::optional<double>>> seen;
    for (const auto& u : platform.nowPlaying[0]->updates) seen.emplace_back(u.status, u.duration);
    const std::vector<std::pair<NowPlayingStatus, std::optional<double>>> expected = {
        {NowPlayingStatus::Paused, std::nullopt},  // the report made when observing began
        {NowPlayingStatus::Playing, std::nullopt},
        {NowPlayingStatus::Paused, std::nullopt},
        {NowPlayingStatus::Paused, 1200.0},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(published().info.duration);
}

TEST_F(NowPlayingTest, PlayPauseAndStopActAsTheControlBarAndEscapeDo) {
    start();
    NowPlayingCommands commands = published().commands;
    platform.calls.clear();
    commands.pause();
    setTimeControl(TimeControlStatus::Paused);
    commands.playPause();
    setTimeControl(TimeControlStatus::Playing);
    commands.playPause();
    commands.play();
    EXPECT_EQ(playerCalls(), (std::vector<std::string>{"player.pause", "player.play", "player.pause", "player.play"}));

    platform.scripts.clear();
    commands.stop();
    EXPECT_FALSE(app->playerView);
    EXPECT_FALSE(published().published);
    EXPECT_EQ(platform.keyMonitors(), 0u);
    EXPECT_EQ(platform.scripts.back(), playerEventScript("closed", ""));  // as for Escape
    EXPECT_EQ(platform.windowTitle, "Brindlemar");

    // A desktop that has not yet seen the withdrawal may still send commands: they do nothing.
    platform.calls.clear();
    platform.scripts.clear();
    for (auto& c : {commands.play, commands.pause, commands.playPause, commands.stop}) c();
    commands.seekBy(10);
    commands.setPosition("/com/brindlemar/app/track/1", 5);
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_TRUE(platform.scripts.empty());
}

TEST_F(NowPlayingTest, SeeksStayInsideTheVideoAndAreAnnounced) {
    start(30);
    EXPECT_EQ(published().commands.position(), 30.0);  // resumed there
    player().duration = 100.0;
    platform.tick(player(), 31.0);
    NowPlayingCommands commands = published().commands;
    const std::string track = published().info.trackId;
    platform.calls.clear();

    commands.seekBy(10);                   // 41
    commands.seekBy(-100);                 // not before the start: 0
    commands.seekBy(500);                  // not past the end: 100
    commands.setPosition(track, 20);       // 20
    commands.setPosition("/otra/pista", 5);  // another track: ignored
    commands.setPosition(track, -1);       // outside the video: ignored
    commands.setPosition(track, 101);      // outside the video: ignored
    EXPECT_EQ(playerCalls(), (std::vector<std::string>{"player.seek 24600/600", "player.seek 0/600",
                                                       "player.seek 60000/600", "player.seek 12000/600"}));
    EXPECT_EQ(published().seeks, (std::vector<double>{41, 0, 100, 20}));
    EXPECT_EQ(commands.position(), 20.0);

    // Progress in steady steps is no seek; a jump (the control bar or the page seeking) is.
    platform.tick(player(), 21.0);
    platform.tick(player(), 22.0);
    platform.tick(player(), 70.0);
    EXPECT_EQ(published().seeks.back(), 70.0);
    EXPECT_EQ(published().seeks.size(), 5u);
}

TEST_F(NowPlayingTest, RaiseBringsTheMainWindowForward) {
    start();
    platform.calls.clear();
    published().commands.raise();
    EXPECT_EQ(platform.calls, std::vector<std::string>{"window.makeKeyAndOrderFront"});
}

}  // namespace
}  // namespace brindlemar::testing
