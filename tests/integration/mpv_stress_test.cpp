// A player pushed around as a restless user would: every 20 ms, for 4 s, a seek, a
// switch of audio or subtitle track (the subtitle file's included), pause or resume,
// or a change of volume, in an order drawn from a seed. Then it must settle on the
// last choices, play to the end, never have stalled, and never have held up the main
// loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <string>

#include "harness.hpp"
#include "platform/gtk/mpv_player.hpp"
#include "player_checks.hpp"

namespace brindlemar::test {
namespace {

struct StressCase {
    unsigned seed;
    bool overHttp;  // the media and the subtitle file from the local server, with the cookie
};

void PrintTo(const StressCase& c, std::ostream* os) {
    *os << "seed " << c.seed << (c.overHttp ? " over HTTP" : " from files");
}

class MpvPlayerStress : public ::testing::TestWithParam<StressCase> {};

TEST_P(MpvPlayerStress, SettlesOnTheLastChoicesAndPlaysToTheEnd) {
    const StressCase& c = GetParam();
    SCOPED_TRACE(::testing::PrintToString(c));
    HttpServer server;
    server.serve("/media/clip.mkv", media().vorbisClip);
    server.serve("/subtitles/clip/0", media().sideSubtitles);
    auto player = c.overHttp ? gtk::createMpvPlayer(server.url("/media/clip.mkv"), forwardBuffer,
                                                    server.url("/subtitles/clip/0"), serviceCookie(server.origin()))
                             : gtk::createMpvPlayer(fileUri(media().vorbisClip), forwardBuffer,
                                                    fileUri(media().sideSubtitles));
    PlayerEvents events(*player);
    auto item = player->currentItem();
    bool loaded = false;
    player->loadMediaSelectionOptions([&] { loaded = true; });
    player->play();
    ASSERT_TRUE(spinUntil([&] { return loaded; }));
    ASSERT_TRUE(spinUntil([&] { return item->status() == ItemStatus::ReadyToPlay; }));
    const auto audio = item->mediaSelectionOptions(MediaCharacteristic::Audible);
    const auto subtitles = item->mediaSelectionOptions(MediaCharacteristic::Legible);
    ASSERT_TRUE(audio && subtitles);
    ASSERT_EQ(audio->size(), 2u);
    ASSERT_EQ(subtitles->size(), 3u);
    ASSERT_EQ(externalOptions(*subtitles).size(), 1u);
    const double duration = item->duration().value_or(6.0);

    // The last of each kind of request, which the player must end up with.
    std::optional<std::size_t> lastAudio = 0;
    std::optional<std::size_t> lastSubtitles;
    bool subtitlesChosen = false;
    double lastVolume = player->volume().value_or(1.0);
    bool playing = true;
    int requests = 0;

    // What was asked, for the failure messages; and what had been asked when a stall
    // was reported.
    std::vector<std::string> asked;
    std::vector<std::string> stalls;
    player->addItemObserver(ItemNotification::PlaybackStalled, [&] {
        std::string recent;
        for (std::size_t i = asked.size() > 4 ? asked.size() - 4 : 0; i < asked.size(); ++i) recent += " " + asked[i];
        stalls.push_back("after " + std::to_string(asked.size()) + " requests, last:" + recent);
    });
    auto note = [&](std::string what) { asked.push_back(std::move(what)); };
    auto optionText = [](std::optional<std::size_t> index) { return index ? std::to_string(*index) : "off"; };

    std::mt19937 random(c.seed);
    auto pick = [&](std::size_t count) -> std::optional<std::size_t> {
        // One chance in (count + 1) of turning that kind off.
        const std::size_t drawn = std::uniform_int_distribution<std::size_t>(0, count)(random);
        return drawn == count ? std::nullopt : std::optional(drawn);
    };
    auto act = [&] {
        ++requests;
        switch (std::uniform_int_distribution<int>(0, 4)(random)) {
        case 0: {
            const double to = std::uniform_real_distribution<double>(0.0, duration)(random);
            note("seek(" + std::to_string(to) + ")");
            player->seek(to);
            break;
        }
        case 1:
            lastAudio = pick(audio->size());
            note("audio(" + optionText(lastAudio) + ")");
            item->selectMediaOption(lastAudio, MediaCharacteristic::Audible);
            break;
        case 2:
            lastSubtitles = pick(subtitles->size());
            subtitlesChosen = true;
            note("subtitles(" + optionText(lastSubtitles) + ")");
            item->selectMediaOption(lastSubtitles, MediaCharacteristic::Legible);
            break;
        case 3:
            playing = !playing;
            note(playing ? "play" : "pause");
            playing ? player->play() : player->pause();
            break;
        case 4:
            lastVolume = std::uniform_real_distribution<double>(0.0, 1.0)(random);
            note("volume(" + std::to_string(lastVolume) + ")");
            player->setVolume(lastVolume);
            break;
        }
    };
    struct Actor {
        std::function<void()> act;
        std::chrono::steady_clock::time_point end;
        bool done = false;
    } actor{act, std::chrono::steady_clock::now() + 4s};
    guint actions = g_timeout_add(20, [](gpointer data) -> gboolean {
        auto* a = static_cast<Actor*>(data);
        if (std::chrono::steady_clock::now() >= a->end) {
            a->done = true;
            return G_SOURCE_REMOVE;
        }
        a->act();
        return G_SOURCE_CONTINUE;
    }, &actor);
    {
        MainLoopHeartbeat heartbeat;
        const bool finished = spinUntil([&] { return actor.done; }, 30s);
        if (!finished) g_source_remove(actions);
        ASSERT_TRUE(finished);
        EXPECT_LE(heartbeat.longestHeldUp(), 50ms)
            << "the main loop stood still: " << heartbeat.longestHeldUpDetails() << "; " << requests << " requests";
    }
    EXPECT_GE(requests, 100);
    EXPECT_EQ(events.stalled, 0) << "stalled while being pushed around: " << ::testing::PrintToString(stalls);
    asked.push_back("-- the end phase: seek(duration - 2), play");

    // It settles on the last choices.
    EXPECT_TRUE(spinUntil([&] { return player->selectedMediaOption(MediaCharacteristic::Audible) == lastAudio; }, 10s))
        << "audio option " << player->selectedMediaOption(MediaCharacteristic::Audible).value_or(99)
        << ", last asked " << lastAudio.value_or(99);
    EXPECT_EQ(player->mediaSelectionEnabled(MediaCharacteristic::Audible), lastAudio.has_value());
    if (subtitlesChosen) {
        EXPECT_TRUE(spinUntil([&] {
            return player->selectedMediaOption(MediaCharacteristic::Legible) == lastSubtitles;
        }, 10s)) << "subtitle option " << player->selectedMediaOption(MediaCharacteristic::Legible).value_or(99)
                 << ", last asked " << lastSubtitles.value_or(99);
        EXPECT_EQ(player->mediaSelectionEnabled(MediaCharacteristic::Legible), lastSubtitles.has_value());
    }
    EXPECT_TRUE(spinUntil([&] { return player->volume() && std::abs(*player->volume() - lastVolume) < 0.01; }, 10s))
        << "volume " << player->volume().value_or(-1) << ", last set " << lastVolume;
    if (!playing) {
        EXPECT_TRUE(spinUntil([&] { return player->timeControlStatus() == TimeControlStatus::Paused; }, 10s));
    }

    // Then it plays to the end, from shortly before it.
    const int endsBefore = events.playedToEnd;
    player->seek(duration - 2.0);
    player->play();
    ASSERT_TRUE(spinUntil([&] { return events.playedToEnd > endsBefore; }, 20s))
        << "never ended; last position " << (events.ticks.empty() ? -1.0 : events.ticks.back());
    EXPECT_GT(events.ticks.back(), duration - 1.0);
    EXPECT_EQ(events.failedToPlayToEnd, 0);
    EXPECT_EQ(events.stalled, 0) << ::testing::PrintToString(stalls);
    EXPECT_EQ(item->status(), ItemStatus::ReadyToPlay);
    player.reset();
    EXPECT_TRUE(spinUntil([] { return !gtk::playerReleasesPending(); }));
}

INSTANTIATE_TEST_SUITE_P(Seeds, MpvPlayerStress,
                         ::testing::Values(StressCase{1, false}, StressCase{2, true}, StressCase{3, false},
                                           StressCase{4, true}),
                         [](const ::testing::TestParamInfo<StressCase>& info) {
                             return "Seed" + std::to_string(info.param.seed) +
                                    (info.param.overHttp ? "OverHttp" : "FromFiles");
                         });

}  // namespace
}  // namespace brindlemar::test
