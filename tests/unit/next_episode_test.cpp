#include <gtest/gtest.h>

#include "bridge/page_events.hpp"
#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

class NextEpisodeTest : public ReadyShellTest {
protected:
    void start(std::optional<std::string> next = "Episodio 2", std::optional<double> duration = 600.0) {
        app->startNative(*parseUrl("http://127.0.0.1:47874/media/1"), 0, "Episodio 1", "original", "off", "",
                         next);
        platform.lastPlayer().duration = duration;
        platform.lastPlayer().timeControl = TimeControlStatus::Playing;
        platform.calls.clear();
        platform.scripts.clear();
    }
    void tick(double seconds) { platform.tick(platform.lastPlayer(), seconds); }
    void end() { platform.notify(platform.lastPlayer(), ItemNotification::PlayedToEnd); }
    PlayerViewEvents& viewEvents() { return platform.playerViews.back()->events; }
    // The page events besides progress.
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const auto& script : platform.scripts)
            for (const char* type : {"next", "ended", "closed", "ready"})
                if (script == playerEventScript(type, "")) out.push_back(type);
        return out;
    }
    // What the card showed, in order: seconds left, or "hidden".
    std::vector<std::string> card() const {
        std::vector<std::string> out;
        for (const auto& call : platform.calls) {
            if (call.starts_with("playerView.showNextUp ")) out.push_back(call.substr(call.rfind(' ') + 1));
            if (call == "playerView.hideNextUp") out.push_back("hidden");
        }
        return out;
    }
};

TEST_F(NextEpisodeTest, TheCardCountsDownFromTheLastTenSecondsAndThePageHearsNextOnce) {
    start();
    tick(589.0);
    EXPECT_TRUE(card().empty());
    tick(590.0);
    EXPECT_EQ(platform.playerViews.back()->nextUpTitle, "Episodio 2");
    tick(591.0);  // progress meanwhile neither restarts nor speeds up the count
    platform.advance(9s);
    EXPECT_EQ(card(), (std::vector<std::string>{"10", "9", "8", "7", "6", "5", "4", "3", "2", "1"}));
    EXPECT_TRUE(events().empty());
    platform.advance(1s);
    EXPECT_EQ(card().back(), "hidden");
    EXPECT_EQ(events(), std::vector<std::string>{"next"});
    // Once asked, never again for this playback; the end is still the end.
    tick(599.0);
    end();
    platform.advance(30s);
    EXPECT_EQ(events(), (std::vector<std::string>{"next", "ended"}));
    EXPECT_EQ(card().size(), 11u);
}

// Each way the countdown can go, on the manual clock: what the page hears and what
// the card showed.
TEST_F(NextEpisodeTest, TheCountdownAndEveryWayItStops) {
    struct Case {
        const char* name;
        std::optional<std::string> next;
        std::optional<double> duration;
        std::function<void()> run;
        std::vector<std::string> events;
        std::vector<std::string> card;  // seconds shown at each change, and "hidden"
    };
    auto at = [this](double seconds) { return [this, seconds] { tick(seconds); }; };
    auto wait = [this](std::chrono::milliseconds by) { return [this, by] { platform.advance(by); }; };
    auto steps = [](std::vector<std::function<void()>> list) {
        return [list] {
            for (const auto& step : list) step();
        };
    };
    const std::string n = "Episodio 2";
    const std::vector<Case> cases = {
        {"Reproducir ahora", n, 600.0, steps({at(590), wait(3s), [&] { viewEvents().playNextNow(); }, wait(30s)}),
         {"next"}, {"10", "9", "8", "7", "hidden"}},
        {"Cancelar: not again for this playback", n, 600.0,
         steps({at(590), wait(3s), [&] { viewEvents().cancelNext(); }, wait(30s), at(591), at(300), at(595),
                [&] { end(); }, wait(30s)}),
         {"ended"}, {"10", "9", "8", "7", "hidden"}},
        {"a seek back hides it; it comes again", n, 600.0,
         steps({at(590), wait(3s), at(300), wait(30s), at(592), wait(10s)}),
         {"next"}, {"10", "9", "8", "7", "hidden", "10", "9", "8", "7", "6", "5", "4", "3", "2", "1", "hidden"}},
        {"the desktop's Next before the last seconds", n, 600.0,
         steps({at(100), [&] { platform.nowPlaying.back()->commands.next(); }, at(590), wait(30s)}),
         {"next"}, {}},
        {"paused before the end: the count waits for play", n, 600.0,
         steps({at(590), wait(3s), [&] { platform.lastPlayer().timeControl = TimeControlStatus::Paused; }, wait(20s),
                [&] { platform.lastPlayer().timeControl = TimeControlStatus::Playing; }, wait(8s)}),
         {"next"}, {"10", "9", "8", "7", "6", "5", "4", "3", "2", "1", "hidden"}},
        {"paused at the end: the count runs on", n, 600.0,
         steps({at(598), wait(1s), [&] { platform.lastPlayer().timeControl = TimeControlStatus::Paused; },
                [&] { end(); }, wait(10s)}),
         {"ended", "next"}, {"10", "9", "8", "7", "6", "5", "4", "3", "2", "1", "hidden"}},
        {"playback closed while counting", n, 600.0, steps({at(590), wait(3s), [&] { app->closeNative(); }, wait(30s)}),
         {"closed"}, {"10", "9", "8", "7"}},
        {"another video while counting", n, 600.0,
         steps({at(590), wait(3s), [&] { start("Episodio 3"); }, wait(30s)}), {}, {}},
        {"nothing follows", std::nullopt, 600.0,
         steps({at(590), [&] { end(); }, [&] { viewEvents().playNextNow(); },
                [&] { platform.nowPlaying.back()->commands.next(); }, wait(30s)}),
         {"ended"}, {}},
        {"a short video: at its end", n, 15.0, steps({at(5), at(14), [&] { end(); }, wait(10s)}),
         {"ended", "next"}, {"10", "9", "8", "7", "6", "5", "4", "3", "2", "1", "hidden"}},
        {"a short video played again from the start", n, 15.0,
         steps({at(14), [&] { end(); }, wait(2s), at(14.5), at(3), wait(30s)}),
         {"ended"}, {"10", "9", "8", "hidden"}},
        {"the end reached by a seek past the last seconds", n, 600.0,
         steps({at(100), [&] { end(); }, wait(1s), [&] { viewEvents().playNextNow(); }, wait(30s)}),
         {"ended", "next"}, {"10", "9", "hidden"}},
        {"length unknown: at the end", n, std::nullopt, steps({at(590), at(2000), [&] { end(); }, wait(10s)}),
         {"ended", "next"}, {"10", "9", "8", "7", "6", "5", "4", "3", "2", "1", "hidden"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.next, c.duration);
        c.run();
        EXPECT_EQ(events(), c.events);
        EXPECT_EQ(card(), c.card);
    }
}

TEST_F(NextEpisodeTest, TheDesktopCanGoNextWhileSomethingFollows) {
    start();
    NowPlayingRecord& published = *platform.nowPlaying.back();
    EXPECT_TRUE(published.info.canGoNext);
    published.commands.next();
    published.commands.next();  // once only
    EXPECT_EQ(events(), std::vector<std::string>{"next"});
    EXPECT_FALSE(published.info.canGoNext);
    start(std::nullopt);
    EXPECT_FALSE(platform.nowPlaying.back()->info.canGoNext);
}

}  // namespace
}  // namespace brindlemar::testing
