// "Stalled" over HTTP: the page hears it once when the bytes stop coming in the middle
// of playback, and never for a seek, a pause or a resume on media that streams at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "harness.hpp"
#include "platform/gtk/mpv_player.hpp"
#include "player_checks.hpp"

namespace brindlemar::test {
namespace {

TEST(MpvPlayerStall, BytesHeldMidFileStallOnceThenPlaybackGoesOnToTheEnd) {
    HttpServer server;
    server.serve("/media/clip.mkv", media().vorbisClip);
    // Half the file is about half the clip: the player has a few seconds of it, plays
    // them, and then has nothing more until the server goes on.
    const auto size = std::filesystem::file_size(media().vorbisClip);
    server.holdAt("/media/clip.mkv", size / 2);
    auto player = gtk::createMpvPlayer(server.url("/media/clip.mkv"), forwardBuffer, "",
                                       serviceCookie(server.origin()));
    PlayerEvents events(*player);
    player->play();

    ASSERT_TRUE(spinUntil([&] { return events.stalled > 0; }, 15s))
        << "no stall; holding " << server.holding() << ", last position "
        << (events.ticks.empty() ? -1.0 : events.ticks.back());
    EXPECT_TRUE(server.holding());
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::WaitingToPlay);
    ASSERT_FALSE(events.ticks.empty()) << "stalled before playback began";
    const double stalledAt = events.ticks.back();
    EXPECT_GT(stalledAt, 1.0);
    EXPECT_LT(stalledAt, 5.0);

    // While the bytes are held, playback stands and no second stall is reported.
    spinFor(1500ms);
    EXPECT_EQ(events.stalled, 1);
    EXPECT_LE(events.ticks.back(), stalledAt + 0.5);
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::WaitingToPlay);
    EXPECT_EQ(events.playedToEnd, 0);

    server.release();
    ASSERT_TRUE(spinUntil([&] { return events.playedToEnd > 0; }, 20s))
        << "never ended after the stall; last position " << events.ticks.back();
    EXPECT_GT(events.ticks.back(), stalledAt + 1.0);
    EXPECT_TRUE(std::is_sorted(events.ticks.begin(), events.ticks.end()));
    EXPECT_EQ(events.stalled, 1);
    EXPECT_EQ(events.playedToEnd, 1);
    EXPECT_EQ(events.failedToPlayToEnd, 0);
    // Waiting while stalled, then playing again.
    const auto waiting = std::find(events.timeControl.rbegin(), events.timeControl.rend(),
                                   TimeControlStatus::WaitingToPlay);
    ASSERT_NE(waiting, events.timeControl.rend());
    EXPECT_NE(std::find(events.timeControl.rbegin(), waiting, TimeControlStatus::Playing), waiting)
        << "never playing again after waiting";
    for (const auto& head : server.requestHeads()) EXPECT_TRUE(carriesCookie(head)) << head;
    player.reset();
    EXPECT_TRUE(spinUntil([] { return !gtk::playerReleasesPending(); }));
}

TEST(MpvPlayerStall, SeekPauseAndResumeOnMediaThatStreamsAtOnceNeverStall) {
    HttpServer server;
    server.serve("/media/clip.mkv", media().vorbisClip);
    auto player = gtk::createMpvPlayer(server.url("/media/clip.mkv"), forwardBuffer);
    PlayerEvents events(*player);
    player->seek(1.0);
    player->play();
    ASSERT_TRUE(spinUntil([&] { return !events.ticks.empty() && events.ticks.back() > 1.5; }));

    player->seek(4.0);  // ahead
    ASSERT_TRUE(spinUntil([&] { return events.ticks.back() > 4.0; }, 10s));
    player->pause();
    spinFor(400ms);
    player->seek(0.5);  // back, while paused
    spinFor(200ms);
    player->play();
    ASSERT_TRUE(spinUntil([&] { return events.ticks.back() > 0.5 && events.ticks.back() < 2.0; }, 10s));
    player->pause();
    spinFor(200ms);
    player->play();
    player->seek(4.5);  // right after resuming
    ASSERT_TRUE(spinUntil([&] { return events.playedToEnd > 0; }, 20s))
        << "never ended; last position " << events.ticks.back();
    EXPECT_EQ(events.playedToEnd, 1);
    EXPECT_EQ(events.stalled, 0);
    EXPECT_EQ(events.failedToPlayToEnd, 0);
    player.reset();
    EXPECT_TRUE(spinUntil([] { return !gtk::playerReleasesPending(); }));
}

}  // namespace
}  // namespace brindlemar::test
