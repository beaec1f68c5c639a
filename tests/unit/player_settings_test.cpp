#include <gtest/gtest.h>

#include <cmath>

#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

const std::string videoUrl = "http://127.0.0.1:47874/media/1";

class PlayerSettingsTest : public ReadyShellTest {
protected:
    void start() { app->startNative(*parseUrl(videoUrl), 0, "Peli", "original", "off"); }
    PlayerRecord& player() { return platform.lastPlayer(); }
    // What the last player was given before it started to play.
    std::vector<std::string> givenBeforePlay() const {
        std::vector<std::string> out;
        for (const auto& call : platform.calls) {
            if (call == "player.play") break;
            if (call.starts_with("player.setVolume") || call.starts_with("player.setMuted")) out.push_back(call);
        }
        return out;
    }
    void userChanges(const std::function<void(PlayerRecord&)>& change) {
        platform.changeSettings(player(), change);
        platform.runPosted();
    }
};

// What was stored, as the next video gets it: missing or damaged keeps the defaults,
// and values out of range or not numbers are made usable.
TEST_F(PlayerSettingsTest, EveryPlayerStartsWithTheRememberedVolume) {
    const double nan = std::nan("");
    struct Case {
        const char* name;
        std::optional<PlayerPreferences> stored;
        std::vector<std::string> given;
    };
    const std::vector<Case> cases = {
        {"nothing stored, or a damaged file", std::nullopt, {"player.setVolume 1", "player.setMuted no"}},
        {"as stored", PlayerPreferences{0.4, true}, {"player.setVolume 0.4", "player.setMuted yes"}},
        {"boosted", PlayerPreferences{1.5, false}, {"player.setVolume 1.5", "player.setMuted no"}},
        {"too loud", PlayerPreferences{7.0, false}, {"player.setVolume 1.5", "player.setMuted no"}},
        {"below silence", PlayerPreferences{-1.0, false}, {"player.setVolume 0", "player.setMuted no"}},
        {"not a number", PlayerPreferences{nan, true}, {"player.setVolume 1", "player.setMuted yes"}},
        {"infinite", PlayerPreferences{INFINITY, false}, {"player.setVolume 1", "player.setMuted no"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        auto delegate = std::make_shared<AppDelegate>(fresh);
        delegate->applicationDidFinishLaunching();
        fresh.childWrites(0, readinessLine);
        ASSERT_EQ(fresh.preferenceLoads.size(), 1u);
        fresh.answerPreferences(c.stored);
        fresh.runPosted();
        for (int video = 0; video < 2; ++video) {
            fresh.calls.clear();
            delegate->startNative(*parseUrl(videoUrl), 0, "Peli", "original", "off");
            std::vector<std::string> given;
            for (const auto& call : fresh.calls) {
                if (call == "player.play") break;
                if (call.starts_with("player.setVolume") || call.starts_with("player.setMuted")) given.push_back(call);
            }
            EXPECT_EQ(given, c.given);
            fresh.runPosted();
        }
        EXPECT_TRUE(fresh.savedPreferences.empty());  // reading them back is no change
    }
}

TEST_F(PlayerSettingsTest, StoredValuesThatComeDuringPlaybackApplyUnlessTheUserChangedThem) {
    // They come while the first video plays: it takes them, and nothing is stored again.
    start();
    EXPECT_EQ(givenBeforePlay(), (std::vector<std::string>{"player.setVolume 1", "player.setMuted no"}));
    platform.answerPreferences(PlayerPreferences{0.3, true});
    platform.runPosted();
    EXPECT_EQ(player().volume, 0.3);
    EXPECT_TRUE(player().muted);
    EXPECT_TRUE(platform.savedPreferences.empty());

    // The user turned the volume before they came: the user's choice stays.
    FakePlatform fresh;
    auto delegate = std::make_shared<AppDelegate>(fresh);
    delegate->applicationDidFinishLaunching();
    fresh.childWrites(0, readinessLine);
    delegate->startNative(*parseUrl(videoUrl), 0, "Peli", "original", "off");
    fresh.changeSettings(fresh.lastPlayer(), [](PlayerRecord& r) { r.volume = 0.6; });
    fresh.runPosted();
    fresh.answerPreferences(PlayerPreferences{0.3, true});
    fresh.runPosted();
    EXPECT_EQ(fresh.lastPlayer().volume, 0.6);
    EXPECT_FALSE(fresh.lastPlayer().muted);
    EXPECT_EQ(fresh.savedPreferences, (std::vector<PlayerPreferences>{{0.6, false}}));
    fresh.calls.clear();
    delegate->startNative(*parseUrl(videoUrl), 0, "Otra", "original", "off");
    EXPECT_TRUE(std::count(fresh.calls.begin(), fresh.calls.end(), "player.setVolume 0.6"));
}

TEST_F(PlayerSettingsTest, EachChangeOfVolumeOrMuteIsStoredOnce) {
    platform.answerPreferences(std::nullopt);
    start();
    platform.runPosted();
    userChanges([](PlayerRecord& r) { r.volume = 0.8; });
    userChanges([](PlayerRecord&) {});                           // told again, nothing new
    userChanges([](PlayerRecord& r) { r.volume = 0.80000001; });  // the player's own rounding
    userChanges([](PlayerRecord& r) { r.rate = 1.5; });          // not a remembered setting
    userChanges([](PlayerRecord& r) { r.muted = true; });
    userChanges([](PlayerRecord& r) { r.volume = std::nullopt; });  // not known: the remembered one stays
    userChanges([](PlayerRecord& r) { r.muted = false; });
    EXPECT_EQ(platform.savedPreferences,
              (std::vector<PlayerPreferences>{{0.8, false}, {0.8, true}, {0.8, false}}));

    // Changes the player reports for an earlier video are not the user's now.
    PlayerRecord& earlier = player();
    platform.changeSettings(earlier, [](PlayerRecord& r) { r.volume = 0.1; });
    start();
    platform.runPosted();
    EXPECT_EQ(platform.savedPreferences.size(), 3u);
    EXPECT_EQ(player().volume, 0.8);
}

TEST_F(PlayerSettingsTest, TheDesktopSetsTheSpeedWithinItsRangeAndSeesItChange) {
    start();
    platform.runPosted();
    NowPlayingRecord& published = *platform.nowPlaying.back();
    EXPECT_EQ(published.info.rate, 1.0);
    const std::pair<double, const char*> cases[] = {
        {1.5, "player.setRate 1.5"}, {5.0, "player.setRate 2"}, {0.1, "player.setRate 0.5"},
        {0.0, "player.setRate 0.5"}, {-1.0, "player.setRate 0.5"}, {std::nan(""), nullptr},
        {INFINITY, nullptr},
    };
    for (const auto& [asked, call] : cases) {
        SCOPED_TRACE(asked);
        platform.calls.clear();
        published.commands.setRate(asked);
        std::vector<std::string> rateCalls;
        for (const auto& c : platform.calls)
            if (c.starts_with("player.setRate")) rateCalls.push_back(c);
        EXPECT_EQ(rateCalls, call ? std::vector<std::string>{call} : std::vector<std::string>{});
    }
    // The speed the desktop shows is the player's, however it changed.
    published.commands.setRate(1.25);
    platform.runPosted();
    EXPECT_EQ(published.info.rate, 1.25);
    userChanges([](PlayerRecord& r) { r.rate = 0.75; });  // the control bar's menu
    EXPECT_EQ(published.info.rate, 0.75);
    EXPECT_EQ(published.updates.back().rate, 0.75);
}

}  // namespace
}  // namespace brindlemar::testing
