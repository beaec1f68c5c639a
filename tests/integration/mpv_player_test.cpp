// The mpv player against real media, with no display: media selection read back from
// mpv, failures, the cookie, playing to the end, pause and seek, and release of
// everything a player holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "harness.hpp"
#include "player_checks.hpp"
#include "platform/gtk/mpv_player.hpp"

namespace brindlemar::test {
namespace {

using gtk::createMpvPlayer;
using gtk::playerReleasesPending;

std::unique_ptr<Player> playerFor(const std::string& path) {
    return createMpvPlayer(fileUri(path), forwardBuffer);
}

::testing::AssertionResult released() {
    if (spinUntil([] { return !playerReleasesPending(); })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "a player's release is still pending";
}

TEST(MpvPlayerMediaSelection, ListsTracksByTheirTagsAndSwitchesThemInMpv) {
    auto player = playerFor(media().clip);
    auto item = player->currentItem();

    bool loaded = false;
    player->loadMediaSelectionOptions([&] { loaded = true; });
    EXPECT_FALSE(loaded) << "the completion must come on a later turn";
    ASSERT_TRUE(spinUntil([&] { return loaded; }));
    // Opened, paused at the start, with nothing asked but the options.
    EXPECT_TRUE(spinUntil([&] { return item->status() == ItemStatus::ReadyToPlay; }));
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::Paused);

    // The tags as the file has them, in the file's order.
    const auto audio = item->mediaSelectionOptions(MediaCharacteristic::Audible);
    const auto subtitles = item->mediaSelectionOptions(MediaCharacteristic::Legible);
    ASSERT_TRUE(audio && subtitles);
    EXPECT_EQ(tagsOf(audio), (std::vector{tag("spa"), tag("eng")}));
    EXPECT_EQ(tagsOf(subtitles), (std::vector{tag("spa"), tag("eng")}));
    for (const auto& option : *audio) EXPECT_FALSE(option.external);
    for (const auto& option : *subtitles) EXPECT_FALSE(option.external);

    // Chosen while paused at the start, before anything has played.
    item->selectMediaOption(indexOfTag(*audio, "eng"), MediaCharacteristic::Audible);
    item->selectMediaOption(indexOfTag(*subtitles, "spa"), MediaCharacteristic::Legible);
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Audible, "eng"));
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Legible, "spa"));
    EXPECT_TRUE(player->mediaSelectionEnabled(MediaCharacteristic::Legible));

    // And while playing.
    player->play();
    item->selectMediaOption(indexOfTag(*audio, "spa"), MediaCharacteristic::Audible);
    item->selectMediaOption(indexOfTag(*subtitles, "eng"), MediaCharacteristic::Legible);
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Audible, "spa"));
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Legible, "eng"));
    EXPECT_EQ(player->selectedMediaOption(MediaCharacteristic::Audible), indexOfTag(*audio, "spa"));
    EXPECT_EQ(player->selectedMediaOption(MediaCharacteristic::Legible), indexOfTag(*subtitles, "eng"));

    // No option: that kind is off; choosing one again turns it back on.
    item->selectMediaOption(std::nullopt, MediaCharacteristic::Legible);
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Legible, std::nullopt));
    EXPECT_FALSE(player->mediaSelectionEnabled(MediaCharacteristic::Legible));
    EXPECT_EQ(player->selectedMediaOption(MediaCharacteristic::Legible), std::nullopt);
    item->selectMediaOption(indexOfTag(*subtitles, "spa"), MediaCharacteristic::Legible);
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Legible, "spa"));
    EXPECT_TRUE(player->mediaSelectionEnabled(MediaCharacteristic::Legible));

    item->selectMediaOption(std::nullopt, MediaCharacteristic::Audible);
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Audible, std::nullopt));
    EXPECT_FALSE(player->mediaSelectionEnabled(MediaCharacteristic::Audible));
    item->selectMediaOption(indexOfTag(*audio, "eng"), MediaCharacteristic::Audible);
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Audible, "eng"));
    EXPECT_TRUE(player->mediaSelectionEnabled(MediaCharacteristic::Audible));

    // A completion asked for after the streams are known still comes, later.
    bool loadedAgain = false;
    player->loadMediaSelectionOptions([&] { loadedAgain = true; });
    EXPECT_FALSE(loadedAgain);
    EXPECT_TRUE(spinUntil([&] { return loadedAgain; }));

    // The item and an observation may outlive their player.
    auto observation = player->observeStatus([] { ADD_FAILURE() << "called after the player went"; });
    player.reset();
    EXPECT_EQ(item->status(), ItemStatus::ReadyToPlay);
    item->mediaSelectionOptions(MediaCharacteristic::Audible);
    item->selectMediaOption(0, MediaCharacteristic::Audible);
    observation->invalidate();
    EXPECT_TRUE(released());
}

TEST(MpvPlayerMediaSelection, MediaWithoutSubtitlesHasNoLegibleGroup) {
    auto player = playerFor(media().plainClip);
    bool loaded = false;
    player->loadMediaSelectionOptions([&] { loaded = true; });
    ASSERT_TRUE(spinUntil([&] { return loaded; }));
    auto item = player->currentItem();
    EXPECT_EQ(item->mediaSelectionOptions(MediaCharacteristic::Legible), std::nullopt);
    ASSERT_TRUE(item->mediaSelectionOptions(MediaCharacteristic::Audible));
    EXPECT_EQ(item->mediaSelectionOptions(MediaCharacteristic::Audible)->size(), 1u);
    EXPECT_TRUE(spinUntil([&] { return player->selectedMediaOption(MediaCharacteristic::Audible) == 0u; }, 10s));
    // Choosing what is not there changes nothing and does not break anything.
    item->selectMediaOption(3, MediaCharacteristic::Legible);
    item->selectMediaOption(7, MediaCharacteristic::Audible);
    spinFor(300ms);
    EXPECT_EQ(player->selectedMediaOption(MediaCharacteristic::Audible), 0u);
    EXPECT_TRUE(player->mediaSelectionEnabled(MediaCharacteristic::Audible));
    EXPECT_EQ(player->selectedMediaOption(MediaCharacteristic::Legible), std::nullopt);
}

TEST(MpvPlayerMediaSelection, SubtitleFileIsOneMoreTrackMarkedExternal) {
    auto player = createMpvPlayer(fileUri(media().clip), forwardBuffer, fileUri(media().sideSubtitles));
    bool loaded = false;
    player->loadMediaSelectionOptions([&] { loaded = true; });
    ASSERT_TRUE(spinUntil([&] { return loaded; }));
    auto item = player->currentItem();
    auto subtitles = item->mediaSelectionOptions(MediaCharacteristic::Legible);
    ASSERT_TRUE(subtitles);
    ASSERT_EQ(subtitles->size(), 3u);
    const auto external = externalOptions(*subtitles);
    ASSERT_EQ(external.size(), 1u);
    item->selectMediaOption(external[0], MediaCharacteristic::Legible);
    EXPECT_TRUE(spinUntil([&] {
        return player->selectedMediaOption(MediaCharacteristic::Legible) == external[0];
    }, 10s));
    EXPECT_TRUE(player->mediaSelectionEnabled(MediaCharacteristic::Legible));
    // The embedded tracks are still there to choose.
    item->selectMediaOption(indexOfTag(*subtitles, "eng"), MediaCharacteristic::Legible);
    EXPECT_TRUE(trackBecomes(*player, MediaCharacteristic::Legible, "eng"));
    const auto audio = item->mediaSelectionOptions(MediaCharacteristic::Audible);
    ASSERT_TRUE(audio);
    EXPECT_EQ(tagsOf(audio), (std::vector{tag("spa"), tag("eng")}));
    for (const auto& option : *audio) EXPECT_FALSE(option.external);
    player.reset();
    EXPECT_TRUE(released());
}

struct FailureCase {
    const char* name;
    std::function<std::string(const HttpServer&)> url;
    PlaybackError reason;
};

class MpvPlayerFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(MpvPlayerFailure, ItemFailsWithoutPlayingToTheEnd) {
    HttpServer server;
    auto player = createMpvPlayer(GetParam().url(server), forwardBuffer);
    PlayerEvents events(*player);
    bool loaded = false;
    player->loadMediaSelectionOptions([&] { loaded = true; });
    player->play();

    ASSERT_TRUE(spinUntil([&] { return !events.status.empty() && loaded; }));
    EXPECT_EQ(events.status, std::vector{ItemStatus::Failed});
    EXPECT_EQ(player->currentItem()->status(), ItemStatus::Failed);
    EXPECT_EQ(player->currentItem()->error(), GetParam().reason);
    EXPECT_EQ(player->currentItem()->duration(), std::nullopt);
    EXPECT_EQ(player->currentItem()->mediaSelectionOptions(MediaCharacteristic::Audible), std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return player->timeControlStatus() == TimeControlStatus::Paused; }));

    // Asking again does not bring a failed item back to life.
    player->play();
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::Paused);
    spinFor(300ms);
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::Paused);
    EXPECT_EQ(events.playedToEnd, 0);
    EXPECT_EQ(events.failedToPlayToEnd, 0);
    EXPECT_EQ(events.stalled, 0);
    EXPECT_EQ(events.status, std::vector{ItemStatus::Failed});
    player.reset();
    EXPECT_TRUE(released());
}

INSTANTIATE_TEST_SUITE_P(
    Urls, MpvPlayerFailure,
    ::testing::Values(
        FailureCase{"MissingFile", [](const HttpServer&) { return fileUri(media().missing); },
                    PlaybackError::NotFound},
        FailureCase{"NotMedia", [](const HttpServer&) { return fileUri(media().notMedia); },
                    PlaybackError::UnrecognisedFormat},
        FailureCase{"NotAUrl", [](const HttpServer&) { return std::string("no scheme at all"); },
                    PlaybackError::NotFound},
        FailureCase{"HttpNotFound", [](const HttpServer& server) { return server.url("/clip.mkv"); },
                    PlaybackError::NotFound},
        // Nothing listens on port 1.
        FailureCase{"ConnectionRefused", [](const HttpServer&) { return std::string("http://127.0.0.1:1/clip.mkv"); },
                    PlaybackError::Network}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// What the viewer sets (speed, volume past 100 %, mute, delays, subtitle size, night
// mode) reaches mpv and reads back from it; the chapters are mpv's.
TEST(MpvPlayerSettings, ReadBackFromMpvWithTheChapters) {
    auto player = playerFor(media().vorbisClip);
    int changes = 0;
    auto observation = player->observeSettings([&] { ++changes; });
    player->setRate(1.5);
    player->setVolume(1.4);
    player->setMuted(true);
    player->setSubtitleDelay(-0.3);
    player->setAudioDelay(0.2);
    player->setSubtitleScale(1.6);
    player->setNightMode(true);
    player->play();

    const std::vector<Chapter> chapters{{0, "Intro"}, {3, "Resto"}};
    ASSERT_TRUE(spinUntil([&] { return player->currentItem()->chapters() == chapters; }))
        << player->currentItem()->chapters().size() << " chapters";
    ASSERT_TRUE(spinUntil([&] { return player->timeControlStatus() == TimeControlStatus::Playing; }));
    spinFor(300ms);
    EXPECT_DOUBLE_EQ(player->rate(), 1.5);
    EXPECT_NEAR(player->volume().value_or(0), 1.4, 1e-9);
    EXPECT_TRUE(player->muted());
    EXPECT_NEAR(player->subtitleDelay(), -0.3, 1e-9);
    EXPECT_NEAR(player->audioDelay(), 0.2, 1e-9);
    EXPECT_NEAR(player->subtitleScale(), 1.6, 1e-9);
    EXPECT_TRUE(player->nightMode());
    EXPECT_EQ(player->hardwareDecoder(), "") << "the software renderer decodes in software";
    EXPECT_GT(changes, 0);

    // Out of range: held to the ends.
    player->setRate(8);
    player->setVolume(9);
    EXPECT_DOUBLE_EQ(player->rate(), Player::maxRate);
    EXPECT_DOUBLE_EQ(player->volume().value_or(0), Player::maxVolume);
    observation.reset();
    player.reset();
    EXPECT_TRUE(released());
}

// The service's cookie goes with the player's HTTP requests to its origin, and
// nowhere else.
TEST(MpvPlayerCookie, SentOnlyToTheCookiesOrigin) {
    HttpServer server;
    server.serve("/media/x", media().plainClip);
    const std::string origin = server.origin();
    struct Case {
        const char* name;
        std::string cookieOrigin;
        bool sent;
    };
    const std::vector<Case> cases = {
        {"same origin", origin, true},
        {"other port", "http://127.0.0.1:1", false},
        {"other host", "http://localhost" + origin.substr(origin.rfind(':')), false},
        {"other scheme", "https" + origin.substr(4), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = server.requestHeads().size();
        auto player = createMpvPlayer(server.url("/media/x"), forwardBuffer, "", serviceCookie(c.cookieOrigin));
        PlayerEvents events(*player);
        ASSERT_TRUE(spinUntil([&] { return !events.status.empty(); }));
        // Served or not, the media opens the same way.
        EXPECT_EQ(events.status.front(), ItemStatus::ReadyToPlay);
        const auto heads = server.requestHeads();
        ASSERT_GT(heads.size(), before);
        for (std::size_t i = before; i < heads.size(); ++i) EXPECT_EQ(carriesCookie(heads[i]), c.sent) << heads[i];
        player.reset();
        EXPECT_TRUE(released());
    }
}

// The subtitle file is fetched with the cookie too, when it comes from the cookie's
// origin, and becomes the external option.
TEST(MpvPlayerCookie, SentWithTheSubtitleFileRequest) {
    HttpServer server;
    server.serve("/media/x", media().clip);
    server.serve("/subtitles/x/0", media().sideSubtitles);
    auto player = createMpvPlayer(server.url("/media/x"), forwardBuffer, server.url("/subtitles/x/0"),
                                  serviceCookie(server.origin()));
    bool loaded = false;
    player->loadMediaSelectionOptions([&] { loaded = true; });
    ASSERT_TRUE(spinUntil([&] { return loaded; }));
    EXPECT_TRUE(spinUntil([&] { return player->currentItem()->status() == ItemStatus::ReadyToPlay; }));
    const auto heads = server.requestHeads();
    EXPECT_TRUE(std::any_of(heads.begin(), heads.end(),
                            [](const std::string& head) { return head.rfind("GET /subtitles/x/0 ", 0) == 0; }));
    for (const auto& head : heads) EXPECT_TRUE(carriesCookie(head)) << head;
    const auto subtitles = player->currentItem()->mediaSelectionOptions(MediaCharacteristic::Legible);
    ASSERT_TRUE(subtitles);
    EXPECT_EQ(subtitles->size(), 3u);
    EXPECT_EQ(externalOptions(*subtitles).size(), 1u);
    player.reset();
    EXPECT_TRUE(released());
}

// A subtitle file on another origin would receive the cookie meant for the service:
// it is not fetched at all, and the media plays without it.
TEST(MpvPlayerCookie, SubtitleFileOnAnotherOriginIsNotFetched) {
    HttpServer service;
    HttpServer elsewhere;
    service.serve("/media/x", media().clip);
    elsewhere.serve("/subtitles/x/0", media().sideSubtitles);
    auto player = createMpvPlayer(service.url("/media/x"), forwardBuffer, elsewhere.url("/subtitles/x/0"),
                                  serviceCookie(service.origin()));
    PlayerEvents events(*player);
    bool loaded = false;
    player->loadMediaSelectionOptions([&] { loaded = true; });
    player->play();
    ASSERT_TRUE(spinUntil([&] { return loaded && !events.ticks.empty(); }));
    EXPECT_EQ(player->currentItem()->status(), ItemStatus::ReadyToPlay);
    EXPECT_TRUE(elsewhere.requestHeads().empty()) << elsewhere.requestHeads().front();
    const auto subtitles = player->currentItem()->mediaSelectionOptions(MediaCharacteristic::Legible);
    ASSERT_TRUE(subtitles);
    EXPECT_TRUE(externalOptions(*subtitles).empty());
    for (const auto& head : service.requestHeads()) EXPECT_TRUE(carriesCookie(head)) << head;
    player.reset();
    EXPECT_TRUE(released());
}

// What the application does when an item fails: the first observer tears the player
// down. Nothing may reach the observers after that, not even the second observer of
// the same change.
TEST(MpvPlayerObservers, ObserverThatDestroysThePlayerEndsTheCallbacks) {
    auto player = playerFor(media().missing);
    int secondObserverCalls = 0;
    int otherCalls = 0;
    auto first = player->observeStatus([&] { player.reset(); });
    auto second = player->observeStatus([&] { ++secondObserverCalls; });
    auto rate = player->observeTimeControlStatus([&] { ++otherCalls; });
    player->addItemObserver(ItemNotification::FailedToPlayToEnd, [&] { ++otherCalls; });
    player->addPeriodicTimeObserver(50ms, [&](double) { ++otherCalls; });
    player->loadMediaSelectionOptions([&] { ++otherCalls; });
    player->play();

    ASSERT_TRUE(spinUntil([&] { return !player; }));
    const int callsAtTeardown = otherCalls;
    spinFor(300ms);
    EXPECT_EQ(secondObserverCalls, 0);
    EXPECT_EQ(otherCalls, callsAtTeardown);
    first.reset();
    second.reset();
    rate.reset();
    EXPECT_TRUE(released());
}

TEST(MpvPlayerPlayback, PlaysToTheEndWithRisingTicksAndStaysUsable) {
    auto player = playerFor(media().clip);
    PlayerEvents events(*player);
    auto item = player->currentItem();
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::Paused);
    EXPECT_EQ(item->status(), ItemStatus::Unknown);

    // A second observer, removed after its first tick, ticks no more.
    int removedTicks = 0;
    Token removable{};
    removable = player->addPeriodicTimeObserver(100ms, [&](double) {
        ++removedTicks;
        player->removeTimeObserver(removable);
    });

    player->play();
    EXPECT_TRUE(events.timeControl.empty()) << "no callback from inside play()";
    ASSERT_TRUE(spinUntil([&] { return events.playedToEnd > 0; }));
    spinFor(500ms);  // room for a wrong second notification

    EXPECT_EQ(events.playedToEnd, 1);
    EXPECT_EQ(events.failedToPlayToEnd, 0);
    EXPECT_EQ(events.stalled, 0);
    EXPECT_EQ(removedTicks, 1);
    EXPECT_EQ(events.status, std::vector{ItemStatus::ReadyToPlay});

    // Waiting (not yet open or started), then playing, then paused at the end; never
    // the same value twice in a row.
    ASSERT_GE(events.timeControl.size(), 2u);
    EXPECT_EQ(events.timeControl.front(), TimeControlStatus::WaitingToPlay);
    EXPECT_NE(std::find(events.timeControl.begin(), events.timeControl.end(), TimeControlStatus::Playing),
              events.timeControl.end());
    EXPECT_EQ(events.timeControl.back(), TimeControlStatus::Paused);
    EXPECT_EQ(std::adjacent_find(events.timeControl.begin(), events.timeControl.end()),
              events.timeControl.end());

    ASSERT_TRUE(item->duration());
    EXPECT_NEAR(*item->duration(), 5.0, 0.5);
    ASSERT_GE(events.ticks.size(), 4u);
    EXPECT_TRUE(std::is_sorted(events.ticks.begin(), events.ticks.end()));
    EXPECT_GT(events.ticks.back() - events.ticks.front(), 2.5);
    EXPECT_LE(events.ticks.back(), *item->duration() + 0.1);

    // Still the same player with the same item, and it plays again.
    EXPECT_EQ(player->currentItem(), item);
    EXPECT_EQ(item->status(), ItemStatus::ReadyToPlay);
    player->play();
    EXPECT_TRUE(spinUntil([&] { return player->timeControlStatus() == TimeControlStatus::Playing; }));
}

TEST(MpvPlayerPlayback, PauseReportsPausedAndSeekMovesThePosition) {
    auto player = playerFor(media().clip);
    PlayerEvents events(*player);

    player->seek(3.0);  // before the media is open: where it starts
    player->play();
    ASSERT_TRUE(spinUntil([&] { return !events.ticks.empty(); }));
    EXPECT_GE(events.ticks.front(), 2.9);
    EXPECT_LE(events.ticks.front(), 4.5);
    ASSERT_TRUE(spinUntil([&] { return player->timeControlStatus() == TimeControlStatus::Playing; }));

    const auto callbacks = events.timeControl.size();
    player->pause();
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::Paused);
    EXPECT_EQ(events.timeControl.size(), callbacks) << "no callback from inside pause()";
    ASSERT_TRUE(spinUntil([&] { return events.timeControl.size() > callbacks; }));
    EXPECT_EQ(events.timeControl.back(), TimeControlStatus::Paused);
    // Paused means the position stands.
    spinFor(100ms);
    const auto ticksWhilePaused = events.ticks.size();
    spinFor(600ms);
    EXPECT_EQ(events.ticks.size(), ticksWhilePaused);
    EXPECT_EQ(events.playedToEnd, 0);

    player->seek(0.5);
    player->play();
    const auto before = events.ticks.size();
    ASSERT_TRUE(spinUntil([&] { return events.ticks.size() > before; }));
    EXPECT_LT(events.ticks[before], 2.5);
    EXPECT_EQ(events.stalled, 0);
}

// The page can ask for any number: NaN moves nothing, a time before the start goes
// to the start, and one past any end (1e308, Infinity) ends the video.
TEST(MpvPlayerPlayback, SeekTakesAnyNumber) {
    auto player = playerFor(media().clip);
    PlayerEvents events(*player);

    player->seek(3.0);
    player->play();
    ASSERT_TRUE(spinUntil([&] { return !events.ticks.empty(); }));
    player->seek(NAN);
    auto before = events.ticks.size();
    ASSERT_TRUE(spinUntil([&] { return events.ticks.size() > before; }));
    EXPECT_GE(events.ticks.back(), 2.9);

    player->seek(-INFINITY);
    EXPECT_TRUE(spinUntil([&] { return events.ticks.back() < 2.0; }));
    EXPECT_EQ(events.playedToEnd, 0);

    player->seek(1e308);
    EXPECT_TRUE(spinUntil([&] { return events.playedToEnd == 1; }));
    player->seek(-0.0);
    player->play();
    EXPECT_TRUE(spinUntil([&] { return player->timeControlStatus() == TimeControlStatus::Playing; }));
    player->seek(INFINITY);
    EXPECT_TRUE(spinUntil([&] { return events.playedToEnd == 2; }));
    EXPECT_EQ(events.failedToPlayToEnd, 0);
    EXPECT_EQ(events.stalled, 0);
}

// Every cycle must hand back its mpv instance, threads and descriptors. Half the
// players are destroyed while still opening: before the media is opened at all, or
// a few turns of the main loop into the opening.
TEST(MpvPlayerRelease, CreatePlayDestroyCyclesGiveBackThreadsAndDescriptors) {
    int callsAfterDestroy = 0;
    enum class Until { Created, Opening, Playing };
    auto cycle = [&](Until until) {
        auto player = playerFor(media().clip);
        auto destroyed = std::make_shared<bool>(false);
        auto noteCall = [destroyed, &callsAfterDestroy] { callsAfterDestroy += *destroyed ? 1 : 0; };
        auto observation = player->observeTimeControlStatus(noteCall);
        auto statusObservation = player->observeStatus(noteCall);
        player->addPeriodicTimeObserver(50ms, [noteCall](double) { noteCall(); });
        player->addItemObserver(ItemNotification::PlayedToEnd, noteCall);
        player->addItemObserver(ItemNotification::PlaybackStalled, noteCall);
        player->loadMediaSelectionOptions(noteCall);
        player->play();
        if (until == Until::Opening) {
            for (int turn = 0; turn < 3; ++turn) g_main_context_iteration(nullptr, FALSE);
        } else if (until == Until::Playing) {
            EXPECT_TRUE(spinUntil([&] { return player->timeControlStatus() == TimeControlStatus::Playing; }));
        }
        player.reset();
        *destroyed = true;
        spinFor(20ms);
        observation.reset();
        statusObservation.reset();
    };

    cycle(Until::Playing);  // first use loads what mpv keeps for the process
    cycle(Until::Opening);
    EXPECT_TRUE(released());
    const int fdsBefore = openFdCount();
    const int threadsBefore = threadCount();

    constexpr int cycles = 30;
    for (int i = 0; i < cycles; ++i) cycle(i % 2 == 1 ? Until::Playing : i % 4 == 0 ? Until::Created : Until::Opening);
    EXPECT_TRUE(released());
    // Threads of shared pools may linger a while; a leak grows with every cycle.
    spinUntil([&] { return threadCount() <= threadsBefore; }, 5s);
    const int fdsAfter = openFdCount();
    const int threadsAfter = threadCount();
    std::printf("release cycles: fds %d -> %d, threads %d -> %d\n", fdsBefore, fdsAfter, threadsBefore,
                threadsAfter);

    EXPECT_EQ(callsAfterDestroy, 0);
    EXPECT_LE(fdsAfter, fdsBefore + 2);
    EXPECT_LE(threadsAfter, threadsBefore + 3);

    // What the application does at quit: waits for the releases under way.
    auto player = playerFor(media().clip);
    player->play();
    EXPECT_TRUE(spinUntil([&] { return player->timeControlStatus() == TimeControlStatus::Playing; }));
    player.reset();
    gtk::waitForPlayerReleases();
    EXPECT_FALSE(playerReleasesPending());
}

}  // namespace
}  // namespace brindlemar::test
