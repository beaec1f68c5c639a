// Resuming at a position in chosen tracks, as the application starts every video:
// the resume seek before play(), the track choices from the completion of
// loadMediaSelectionOptions after one more hop through the main loop. Every case
// must start there, in those tracks, move, and end once, without a stall.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "harness.hpp"
#include "platform/gtk/mpv_player.hpp"
#include "player_checks.hpp"

namespace brindlemar::test {
namespace {

enum class Choice { First, Other, Off, Missing };

struct ResumeCase {
    std::optional<double> position;  // nothing: from the beginning
    Choice audio;
    Choice subtitles;
};

std::string nameOf(Choice choice) {
    switch (choice) {
    case Choice::First: return "First";
    case Choice::Other: return "Other";
    case Choice::Off: return "Off";
    case Choice::Missing: return "Missing";
    }
    return "";
}

void PrintTo(const ResumeCase& c, std::ostream* os) {
    *os << "position " << (c.position ? std::to_string(*c.position) : "none") << ", audio "
        << nameOf(c.audio) << ", subtitles " << nameOf(c.subtitles);
}

// What the player is asked for (nothing: no call, as for a language the file lacks)
// and the track mpv must then have current (nothing: that kind is off).
struct Expected {
    std::optional<std::optional<std::size_t>> call;
    std::optional<std::string> language;
};

Expected expectedFor(Choice choice) {
    switch (choice) {
    case Choice::First: return {std::optional<std::size_t>(0), "spa"};
    case Choice::Other: return {std::optional<std::size_t>(1), "eng"};
    case Choice::Off: return {std::optional<std::size_t>(), std::nullopt};
    case Choice::Missing: return {std::nullopt, "spa"};  // the file's default stays
    }
    return {};
}

// A player of the 6 s clip started as the application starts it.
struct Resumed {
    std::unique_ptr<Player> player;
    std::unique_ptr<PlayerEvents> events;
    std::shared_ptr<PlayerItem> item;
    bool chosen = false;
};

void start(Resumed& r, const ResumeCase& c) {
    const Expected audio = expectedFor(c.audio);
    const Expected subtitles = expectedFor(c.subtitles);
    r.player = gtk::createMpvPlayer(fileUri(media().vorbisClip), forwardBuffer);
    r.events = std::make_unique<PlayerEvents>(*r.player);
    r.item = r.player->currentItem();
    if (c.position) r.player->seek(*c.position);
    r.player->loadMediaSelectionOptions([&r, audio, subtitles] {
        postToMainLoop([&r, audio, subtitles] {
            if (audio.call) r.item->selectMediaOption(*audio.call, MediaCharacteristic::Audible);
            if (subtitles.call) r.item->selectMediaOption(*subtitles.call, MediaCharacteristic::Legible);
            r.chosen = true;
        });
    });
    r.player->play();
}

// Starts in the expected tracks, moves from `from`, and ends once.
void expectPlaysFromInTracksToTheEnd(Resumed& r, double from, const Expected& audio, const Expected& subtitles) {
    Player& player = *r.player;
    PlayerEvents& events = *r.events;
    ASSERT_TRUE(spinUntil([&] { return r.chosen; }, 10s));
    ASSERT_TRUE(spinUntil([&] { return player.timeControlStatus() == TimeControlStatus::Playing; }, 10s))
        << "never reached playing";
    EXPECT_TRUE(trackBecomes(player, MediaCharacteristic::Audible, audio.language));
    EXPECT_TRUE(trackBecomes(player, MediaCharacteristic::Legible, subtitles.language));
    EXPECT_EQ(player.mediaSelectionEnabled(MediaCharacteristic::Audible), audio.language.has_value());
    EXPECT_EQ(player.mediaSelectionEnabled(MediaCharacteristic::Legible), subtitles.language.has_value());

    ASSERT_TRUE(spinUntil([&] { return !events.ticks.empty() && events.ticks.back() > from + 0.5; }, 10s))
        << "playing, but the position does not move";
    EXPECT_GE(events.ticks.front(), from - 0.1) << "progress from before the resume point";
    EXPECT_LE(events.ticks.front(), from + 1.5) << "progress far past the resume point";
    EXPECT_TRUE(std::is_sorted(events.ticks.begin(), events.ticks.end()));

    ASSERT_TRUE(spinUntil([&] { return events.playedToEnd > 0; }, 20s))
        << "never ended; last position " << events.ticks.back();
    EXPECT_EQ(events.failedToPlayToEnd, 0);
    // The end is reported at the end, once, and playback then stands still.
    const std::optional<double> duration = r.item->duration();
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 6.0, 0.5);
    EXPECT_GT(events.ticks.back(), *duration - 1.0);
    spinFor(500ms);
    EXPECT_EQ(events.playedToEnd, 1);
    EXPECT_EQ(player.timeControlStatus(), TimeControlStatus::Paused);
    EXPECT_EQ(events.stalled, 0);
}

class MpvPlayerResume : public ::testing::TestWithParam<ResumeCase> {};

TEST_P(MpvPlayerResume, StartsAtThePositionInTheChosenTracksAndEnds) {
    const ResumeCase& c = GetParam();
    Resumed r;
    start(r, c);
    expectPlaysFromInTracksToTheEnd(r, c.position.value_or(0.0), expectedFor(c.audio), expectedFor(c.subtitles));
    EXPECT_EQ(r.events->stalled, 0);
    r.events.reset();
    r.player.reset();
    EXPECT_TRUE(spinUntil([] { return !gtk::playerReleasesPending(); }));
}

std::vector<ResumeCase> resumeCases() {
    std::vector<ResumeCase> cases;
    for (std::optional<double> position : {std::optional<double>(), std::optional(2.0), std::optional(5.0)})
        for (Choice audio : {Choice::First, Choice::Other, Choice::Off, Choice::Missing})
            for (Choice subtitles : {Choice::First, Choice::Other, Choice::Off})
                cases.push_back({position, audio, subtitles});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(
    PositionAudioSubtitles, MpvPlayerResume, ::testing::ValuesIn(resumeCases()),
    [](const ::testing::TestParamInfo<ResumeCase>& info) {
        const ResumeCase& c = info.param;
        const std::string from = !c.position ? "Start" : *c.position == 2.0 ? "At2s" : "OneBeforeEnd";
        return from + "_Audio" + nameOf(c.audio) + "_Subtitles" + nameOf(c.subtitles);
    });

// After the end, play() starts again from the beginning, in the tracks chosen.
TEST(MpvPlayerResumeAgain, PlayAfterTheEndStartsOverInTheSameTracks) {
    const ResumeCase c{5.0, Choice::Other, Choice::Other};
    const Expected audio = expectedFor(c.audio);
    const Expected subtitles = expectedFor(c.subtitles);
    Resumed r;
    start(r, c);
    expectPlaysFromInTracksToTheEnd(r, 5.0, audio, subtitles);
    if (HasFatalFailure()) return;

    PlayerEvents& events = *r.events;
    events.ticks.clear();
    r.player->play();
    ASSERT_TRUE(spinUntil([&] { return !events.ticks.empty(); }, 10s));
    EXPECT_LT(events.ticks.front(), 1.5);
    EXPECT_TRUE(trackBecomes(*r.player, MediaCharacteristic::Audible, audio.language));
    EXPECT_TRUE(trackBecomes(*r.player, MediaCharacteristic::Legible, subtitles.language));
    EXPECT_TRUE(spinUntil([&] { return events.ticks.back() > 2.0; }, 10s)) << "does not move";
    EXPECT_TRUE(std::is_sorted(events.ticks.begin(), events.ticks.end()));
    EXPECT_EQ(events.playedToEnd, 1);
    EXPECT_EQ(events.stalled, 0);
    r.events.reset();
    r.player.reset();
    EXPECT_TRUE(spinUntil([] { return !gtk::playerReleasesPending(); }));
}

}  // namespace
}  // namespace brindlemar::test
