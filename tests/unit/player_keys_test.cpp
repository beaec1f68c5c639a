#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "player/player_keys.hpp"
#include "player/player_steps.hpp"
#include "support/fake_platform.hpp"

namespace brindlemar::testing {
namespace {

using Named = PlayerKeyPress::Named;

PlayerKeyPress named(Named key) { return PlayerKeyPress{key, 0, false}; }
PlayerKeyPress typed(char32_t c) { return PlayerKeyPress{Named::None, c, false}; }

TEST(PlayerKeys, EachKeyAndWhatItDoes) {
    const std::pair<PlayerKeyPress, PlayerCommand> cases[] = {
        {named(Named::Space), PlayerCommand::TogglePause},
        {typed(U' '), PlayerCommand::TogglePause},
        {named(Named::Left), PlayerCommand::SeekBack},
        {named(Named::Right), PlayerCommand::SeekForward},
        {named(Named::Up), PlayerCommand::VolumeUp},
        {named(Named::Down), PlayerCommand::VolumeDown},
        {typed(U'm'), PlayerCommand::ToggleMute},
        {typed(U'f'), PlayerCommand::ToggleFullscreen},
        {typed(U'a'), PlayerCommand::CycleAudio},
        {typed(U's'), PlayerCommand::CycleSubtitles},
        {typed(U'c'), PlayerCommand::CycleSubtitles},
        {typed(U'['), PlayerCommand::SlowerSpeed},
        {typed(U']'), PlayerCommand::FasterSpeed},
        {named(Named::BackSpace), PlayerCommand::NormalSpeed},
        {named(Named::PageUp), PlayerCommand::PreviousChapter},
        {named(Named::PageDown), PlayerCommand::NextChapter},
        {typed(U'z'), PlayerCommand::SubtitleDelayLess},
        {typed(U'x'), PlayerCommand::SubtitleDelayMore},
        {typed(U'g'), PlayerCommand::AudioDelayLess},
        {typed(U'h'), PlayerCommand::AudioDelayMore},
        {typed(U'-'), PlayerCommand::SubtitleSmaller},
        {typed(U'+'), PlayerCommand::SubtitleLarger},
        {typed(U'='), PlayerCommand::SubtitleLarger},
        {typed(U'?'), PlayerCommand::ShowKeys},
        {named(Named::F1), PlayerCommand::ShowKeys},
        {typed(U'M'), PlayerCommand::ToggleMute},  // Caps Lock on
    };
    std::set<PlayerCommand> reached;
    for (const auto& [key, command] : cases) {
        SCOPED_TRACE(::testing::Message() << "named " << static_cast<int>(key.named) << ", character U+"
                                          << std::hex << static_cast<std::uint32_t>(key.character));
        EXPECT_EQ(playerCommandForKey(key), command);
        reached.insert(command);
        // With Ctrl, Alt or Super the key belongs to the application or the desktop.
        PlayerKeyPress modified = key;
        modified.withModifier = true;
        EXPECT_EQ(playerCommandForKey(modified), std::nullopt);
    }
    EXPECT_EQ(reached.size(), static_cast<std::size_t>(PlayerCommand::ShowKeys) + 1);  // every command has a key
}

TEST(PlayerKeys, OtherKeysAreNotThePlayers) {
    // Escape is the shell's own (it ends playback); the rest do nothing here.
    for (char32_t c : {U'q', U'e', U'1', U'\x1b', U'\r', U'\t', U'/', U'_', U'\u00f1', U'\u00c7', char32_t{0}})
        EXPECT_EQ(playerCommandForKey(typed(c)), std::nullopt) << static_cast<std::uint32_t>(c);
}

TEST(PlayerKeys, TheHelpListsEveryKeyInSpanish) {
    const std::vector<PlayerKeyHelp>& help = playerKeyHelp();
    std::set<std::string> keys;
    for (const PlayerKeyHelp& line : help) {
        EXPECT_FALSE(line.keys.empty());
        EXPECT_FALSE(line.action.empty());
        EXPECT_TRUE(keys.insert(line.keys).second) << "twice: " << line.keys;
    }
    auto has = [&](const std::string& keys, const std::string& action) {
        for (const PlayerKeyHelp& line : help)
            if (line.keys == keys) return line.action == action;
        return false;
    };
    EXPECT_TRUE(has("Espacio", "Reproducir o pausar"));
    EXPECT_TRUE(has("\u2190 \u2192", "Retroceder o avanzar 10 s"));
    EXPECT_TRUE(has("[ ]", "Velocidad más lenta o más rápida"));
    EXPECT_TRUE(has("? o F1", "Mostrar u ocultar esta lista"));
    EXPECT_TRUE(has("Esc", "Volver a la biblioteca"));
}

TEST(PlayerSteps, SpeedMovesAlongTheMenu) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double current;
        int direction;
        double next;
    };
    const Case cases[] = {
        {1.0, +1, 1.25}, {1.0, -1, 0.75}, {1.25, +1, 1.5}, {1.5, +1, 2.0}, {0.75, -1, 0.5},
        {2.0, +1, 2.0}, {0.5, -1, 0.5},                   // the ends hold
        {1.1, +1, 1.25}, {1.1, -1, 1.0},                  // off the menu: the nearest that way
        {1.7, -1, 1.5}, {3.0, -1, 2.0}, {3.0, +1, 2.0}, {0.25, +1, 0.5}, {0.25, -1, 0.5},
        {1.2500000001, +1, 1.5}, {1.2499999999, -1, 1.0}, // a player's rounding is the menu's speed
        {1.25, 0, 1.25}, {5.0, 0, 2.0},
        {nan, +1, 1.0}, {inf, -1, 1.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nextRate(c.current, c.direction), c.next) << c.current << " " << c.direction;
    EXPECT_EQ(playbackRates(), (std::vector<double>{0.5, 0.75, 1.0, 1.25, 1.5, 2.0}));
}

TEST(PlayerSteps, VolumeDelayAndSubtitleSizeSteps) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        double (*step)(double, int);
        double current;
        int direction;
        double next;
    };
    const Case cases[] = {
        {"volume up", stepVolume, 0.5, +1, 0.55},
        {"volume down", stepVolume, 0.5, -1, 0.45},
        {"volume up to the boost's end", stepVolume, 1.48, +1, 1.5},
        {"volume at the boost's end", stepVolume, 1.5, +1, 1.5},
        {"volume at silence", stepVolume, 0.02, -1, 0.0},
        {"volume unknown", stepVolume, nan, +1, 1.05},
        {"subtitles later", stepDelay, 0.0, +1, 0.1},
        {"subtitles earlier", stepDelay, 0.0, -1, -0.1},
        {"back to zero, not -0", stepDelay, 0.1, -1, 0.0},
        {"thirty steps stay whole", stepDelay, 2.9, +1, 3.0},
        {"delay unknown", stepDelay, nan, -1, -0.1},
        {"size larger", stepSubtitleScale, 1.0, +1, 1.1},
        {"size at its largest", stepSubtitleScale, 2.0, +1, 2.0},
        {"size at its smallest", stepSubtitleScale, 0.5, -1, 0.5},
        {"size unknown", stepSubtitleScale, nan, -1, 0.9},
    };
    for (const Case& c : cases) EXPECT_EQ(c.step(c.current, c.direction), c.next) << c.name;
    // Thirty steps up and thirty down come back to exactly zero.
    double delay = 0;
    for (int i = 0; i < 30; ++i) delay = stepDelay(delay, +1);
    EXPECT_EQ(delay, 3.0);
    for (int i = 0; i < 30; ++i) delay = stepDelay(delay, -1);
    EXPECT_EQ(delay, 0.0);
    EXPECT_FALSE(std::signbit(delay));
}

TEST(PlayerSteps, LabelsInSpanish) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, const char*> rates[] = {
        {0.5, "0,5\u00d7"}, {0.75, "0,75\u00d7"}, {1.0, "1\u00d7"}, {1.25, "1,25\u00d7"}, {2.0, "2\u00d7"},
        {1.2500000001, "1,25\u00d7"}, {nan, "1\u00d7"},
    };
    for (const auto& [rate, label] : rates) EXPECT_EQ(rateLabel(rate), label) << rate;
    const std::pair<double, const char*> delays[] = {
        {0.0, "0 ms"}, {-0.0, "0 ms"}, {0.1, "+100 ms"}, {-0.1, "\u2212100 ms"}, {1.2, "+1200 ms"},
        {-0.0004, "0 ms"}, {nan, "0 ms"}, {1e300, "+86400000 ms"}, {-1e300, "\u221286400000 ms"},
    };
    for (const auto& [delay, label] : delays) EXPECT_EQ(delayLabel(delay), label) << delay;
    EXPECT_EQ(percentLabel(1.5), "150 %");
    EXPECT_EQ(percentLabel(0.55), "55 %");
    EXPECT_EQ(percentLabel(0.0), "0 %");
}

TEST(PlayerSteps, RememberedVolumeIsMadeUsable) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<PlayerPreferences, PlayerPreferences> cases[] = {
        {{0.4, true}, {0.4, true}},
        {{1.5, false}, {1.5, false}},
        {{2.0, false}, {1.5, false}},  // past the boost
        {{-0.3, true}, {0.0, true}},
        {{nan, true}, {1.0, true}},
        {{inf, false}, {1.0, false}},  // damaged, not the loudest
        {{-inf, false}, {1.0, false}},
    };
    for (const auto& [stored, usable] : cases)
        EXPECT_EQ(usablePlayerPreferences(stored), usable) << stored.volume;
}

}  // namespace
}  // namespace brindlemar::testing
