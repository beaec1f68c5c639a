#include <gtest/gtest.h>

#include <cmath>

#include "bridge/page_events.hpp"
#include "player/language_selection.hpp"
#include "support/shell_fixture.hpp"

namespace brindlemar::testing {
namespace {

const std::string videoUrl = "http://127.0.0.1:47874/media/1";

class PlayerTest : public ReadyShellTest {
protected:
    void start(double position = 0, const std::string& title = "Peli", const std::string& audio = "original",
               const std::string& subtitles = "off") {
        app->startNative(*parseUrl(videoUrl), position, title, audio, subtitles);
    }
    std::vector<std::string> events() const {
        std::vector<std::string> types;
        const std::string prefix = "{detail:{type:'";
        for (const auto& script : platform.scripts) {
            auto at = script.find(prefix);
            if (at == std::string::npos) continue;
            auto from = at + prefix.size();
            types.push_back(script.substr(from, script.find('\'', from) - from));
        }
        return types;
    }
    bool called(const std::string& call) const {
        return std::find(platform.calls.begin(), platform.calls.end(), call) != platform.calls.end();
    }
};

TEST_F(PlayerTest, StartBuildsThePlaybackInOrderAndSaysReady) {
    start(1.5);
    const std::vector<std::string> expected = {
        "window.setTitle Brindlemar",  // the silent stop of whatever played before
        "createPlayer http://127.0.0.1:47874/media/1 30s",
        "createPlayerView over web",
        "playerView.setPlayer",
        "playerView.allowsPictureInPicture yes",
        "playerView.addBackButton \u2190 Volver",
        "playerView.addSpinner",
        "spinner.start",
        "window.setTitle Peli",
        "player.seek 900/600",
        "player.observeStatus",
        "player.loadMediaSelectionOptions",
        "player.setVolume 1",  // the remembered volume and mute, before the first sound
        "player.setMuted no",
        "player.play",
        "player.observeSettings",
        "player.observeTimeControlStatus",
        "post",  // the time-control status at registration, on a later turn
        "player.addPeriodicTimeObserver 1000ms",
        "player.addItemObserver playedToEnd",
        "player.addItemObserver failedToPlayToEnd",
        "player.addItemObserver stalled",
        "addKeyDownMonitor",
        "web.evaluateScript",
        "publishNowPlaying Peli",
        "after 10000ms",  // the start deadline, once "ready" is out
    };
    EXPECT_EQ(platform.calls, expected);
    EXPECT_EQ(events(), std::vector<std::string>{"ready"});
    EXPECT_EQ(platform.playerViews.back()->backTitle.size(), 10u);  // "← Volver" in UTF-8
}

TEST_F(PlayerTest, ThePlayerCarriesTheServiceCookieOnlyToTheServiceOrigin) {
    start();
    ASSERT_TRUE(platform.lastPlayer().cookie);
    EXPECT_EQ(platform.lastPlayer().cookie->name, "brindlemar_token");
    EXPECT_EQ(platform.lastPlayer().cookie->value, app->serviceSecret);
    EXPECT_EQ(platform.lastPlayer().cookie->origin, "http://127.0.0.1:47874");
    EXPECT_FALSE(app->serviceSecret.empty());

    app->startNative(*parseUrl("http://example.com:47874/media/1"), 0, "Otra", "original", "off");
    EXPECT_FALSE(platform.lastPlayer().cookie);
}

TEST_F(PlayerTest, OnlyPositionsAboveOneSecondSeek) {
    for (double position : {0.0, 0.5, 1.0, std::nan(""), -5.0}) {
        platform.calls.clear();
        start(position);
        EXPECT_FALSE(std::any_of(platform.calls.begin(), platform.calls.end(),
                                 [](const std::string& c) { return c.starts_with("player.seek"); }))
            << position;
    }
}

TEST_F(PlayerTest, NoContentViewMeansNothingStarts) {
    // A platform window without content (never the case on GTK, but the rule holds).
    FakePlatform p;
    auto delegate = std::make_shared<AppDelegate>(p);
    delegate->window = p.createWindow(10, 10, {});
    delegate->web = p.createWebView({}, {});
    delegate->startNative(*parseUrl(videoUrl), 0, "x", "original", "off");
    EXPECT_TRUE(p.players.empty());
    EXPECT_TRUE(p.scripts.empty());
}

TEST_F(PlayerTest, TwoStartsInARowLeaveOnePlayerViewAndNoClosed) {
    start();
    start();
    EXPECT_EQ(events(), (std::vector<std::string>{"ready", "ready"}));
    ASSERT_EQ(platform.playerViews.size(), 2u);
    EXPECT_FALSE(platform.playerViews[0]->inTree);
    EXPECT_TRUE(platform.playerViews[1]->inTree);
    EXPECT_FALSE(platform.players[0]->alive);
    EXPECT_TRUE(platform.players[0]->timeObservers.empty());
    EXPECT_TRUE(platform.players[0]->itemObservers.empty());
    EXPECT_TRUE(platform.players[0]->statusObservers.empty());
    EXPECT_TRUE(platform.players[0]->rateObservers.empty());
    EXPECT_EQ(platform.keyMonitors(), 1u);
}

TEST_F(PlayerTest, StaleObserverWorkDoesNothing) {
    start();
    PlayerRecord& first = platform.lastPlayer();
    // Work queued for the first player that runs after the second has started.
    platform.setItemStatus(first, ItemStatus::Failed);
    first.mediaSelectionCompletions.clear();
    first.audible = std::vector<MediaOption>{{"en", {}}};
    start();
    platform.runPosted();
    EXPECT_EQ(events(), (std::vector<std::string>{"ready", "ready"}));  // no "error", no teardown
    EXPECT_TRUE(app->player);
    EXPECT_TRUE(first.selections.empty());
}

TEST_F(PlayerTest, AFailedItemSaysErrorAndTearsDownSilently) {
    start();
    platform.setItemStatus(platform.lastPlayer(), ItemStatus::ReadyToPlay);
    platform.runPosted();
    EXPECT_TRUE(app->player);
    platform.setItemStatus(platform.lastPlayer(), ItemStatus::Failed);
    platform.runPosted();
    EXPECT_EQ(events(), (std::vector<std::string>{"ready", "error"}));
    EXPECT_FALSE(app->player);
    EXPECT_FALSE(app->playerView);
    EXPECT_EQ(platform.windowTitle, "Brindlemar");
}

// Every way playback fails tells the page the player's reason as a number.
TEST_F(PlayerTest, ErrorsCarryThePlayersReason) {
    const std::pair<PlaybackError, const char*> reasons[] = {
        {PlaybackError::Unknown, "code:0"},   {PlaybackError::UnrecognisedFormat, "code:1"},
        {PlaybackError::NotFound, "code:2"},  {PlaybackError::Network, "code:3"},
        {PlaybackError::NoDecoder, "code:4"}, {PlaybackError::OutputFailed, "code:5"},
        {static_cast<PlaybackError>(77), "code:0"},  // a reason this shell does not know
    };
    for (const auto& [reason, fields] : reasons) {
        SCOPED_TRACE(fields);
        // The item fails to open...
        start();
        platform.lastPlayer().error = reason;
        platform.scripts.clear();
        platform.setItemStatus(platform.lastPlayer(), ItemStatus::Failed);
        platform.runPosted();
        EXPECT_EQ(platform.scripts.front(), playerEventScript("error", fields));
        // ... or fails while it plays.
        start();
        platform.lastPlayer().error = reason;
        platform.scripts.clear();
        platform.notify(platform.lastPlayer(), ItemNotification::FailedToPlayToEnd);
        EXPECT_EQ(platform.scripts, std::vector<std::string>{playerEventScript("error", fields)});
    }
    // No player could be built at all.
    platform.playerFails = true;
    platform.scripts.clear();
    start();
    EXPECT_EQ(platform.scripts, std::vector<std::string>{playerEventScript("error", "code:0")});
    EXPECT_FALSE(app->playerView);
}

// A track picked in the view's menus or by key: the page hears the position of the
// track of each kind among the item's tracks of that kind, -1 for a kind that is off.
TEST_F(PlayerTest, ChosenTracksReachThePage) {
    struct Case {
        std::optional<std::size_t> audio;
        bool audioOn;
        std::optional<std::size_t> subtitles;
        bool subtitlesOn;
        const char* fields;
    };
    const Case cases[] = {
        {1, true, 0, true, "audio:1,subtitles:0"},
        {0, true, std::nullopt, true, "audio:0,subtitles:-1"},
        {0, true, 2, false, "audio:0,subtitles:-1"},  // a track kept, but subtitles hidden
        {std::nullopt, true, 1, true, "audio:-1,subtitles:1"},
        {1, false, std::nullopt, false, "audio:-1,subtitles:-1"},
    };
    start();
    PlayerRecord& player = platform.lastPlayer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields);
        player.selectedAudible = c.audio;
        player.audibleEnabled = c.audioOn;
        player.selectedLegible = c.subtitles;
        player.legibleEnabled = c.subtitlesOn;
        platform.scripts.clear();
        platform.playerViews.back()->events.tracksChosen();
        EXPECT_EQ(platform.scripts, std::vector<std::string>{playerEventScript("tracks", c.fields)});
    }
    // The view of an earlier video reports nothing of the current one.
    PlayerViewEvents earlier = platform.playerViews.back()->events;
    start();
    platform.scripts.clear();
    earlier.tracksChosen();
    EXPECT_TRUE(platform.scripts.empty());
}

TEST_F(PlayerTest, TimeControlDrivesTheSpinnerAndTheWakeLock) {
    start();
    PlayerRecord& player = platform.lastPlayer();
    player.timeControl = TimeControlStatus::WaitingToPlay;
    platform.runPosted();  // the report made at registration
    EXPECT_TRUE(app->awakeNative);
    EXPECT_TRUE(platform.spinnerSpinning);
    EXPECT_EQ(platform.heldActivities.size(), 1u);

    platform.setTimeControl(player, TimeControlStatus::Playing);
    EXPECT_TRUE(platform.spinnerSpinning);  // only on a later turn of the main loop
    platform.runPosted();
    EXPECT_FALSE(platform.spinnerSpinning);
    EXPECT_EQ(platform.heldActivities.size(), 1u);

    platform.setTimeControl(player, TimeControlStatus::Paused);  // paused with the player's controls
    platform.runPosted();
    EXPECT_FALSE(app->awakeNative);
    EXPECT_TRUE(platform.heldActivities.empty());
    EXPECT_EQ(events(), std::vector<std::string>{"ready"});
}

TEST_F(PlayerTest, ProgressEndFailureAndStallEvents) {
    start();
    PlayerRecord& player = platform.lastPlayer();
    platform.tick(player, 0.0);  // duration not known yet
    player.duration = 3600.0;
    platform.tick(player, 12.5);
    player.duration = INFINITY;
    platform.tick(player, 13.0);
    platform.notify(player, ItemNotification::PlaybackStalled);
    platform.notify(player, ItemNotification::FailedToPlayToEnd);
    platform.notify(player, ItemNotification::PlayedToEnd);
    ASSERT_EQ(platform.scripts.size(), 7u);
    EXPECT_EQ(platform.scripts[1], playerEventScript("time", "position:0.0,duration:0.0"));
    EXPECT_EQ(platform.scripts[2], playerEventScript("time", "position:12.5,duration:3600.0"));
    EXPECT_EQ(platform.scripts[3], playerEventScript("time", "position:13.0,duration:0.0"));
    EXPECT_EQ(events(), (std::vector<std::string>{"ready", "time", "time", "time", "stalled", "error", "ended"}));
    EXPECT_TRUE(app->player);  // the end tears nothing down
}

// A player still waiting to play 10 s after "ready" is reported as stalled, once; one
// that played, was paused, or was replaced meanwhile is not.
TEST_F(PlayerTest, StartDeadlineReportsAPlayerThatNeverStarts) {
    auto setStatus = [this](TimeControlStatus status) { platform.setTimeControl(platform.lastPlayer(), status); };
    struct Case {
        const char* name;
        std::function<void()> meanwhile;  // at 5 s
        std::vector<std::string> events;  // after 30 s
    };
    const std::vector<Case> cases = {
        {"still waiting", [] {}, {"ready", "stalled"}},
        {"played, then waits again",
         [&] {
             setStatus(TimeControlStatus::Playing);
             platform.runPosted();
             setStatus(TimeControlStatus::WaitingToPlay);
         },
         {"ready"}},
        {"paused by the page", [&] { setStatus(TimeControlStatus::Paused); }, {"ready"}},
        {"closed", [&] { app->closeNative(); }, {"ready", "closed"}},
        // Only the new player's own deadline, 10 s after its "ready", counts.
        {"another video",
         [&] {
             start();
             setStatus(TimeControlStatus::WaitingToPlay);
         },
         {"ready", "ready", "stalled"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.scripts.clear();
        const auto begin = platform.now;
        start();
        setStatus(TimeControlStatus::WaitingToPlay);
        platform.advanceTo(begin + 5s);
        c.meanwhile();
        platform.advanceTo(begin + 9999ms);
        const auto early = events();
        EXPECT_EQ(std::count(early.begin(), early.end(), "stalled"), 0);
        platform.advanceTo(begin + 30s);
        EXPECT_EQ(events(), c.events);
    }
}

TEST_F(PlayerTest, TeardownOrderAndNotify) {
    start();
    app->awakeWeb = true;
    platform.calls.clear();
    platform.scripts.clear();
    app->closeNative();
    const std::vector<std::string> expected = {
        "statusObservation.invalidate",
        "rateObservation.invalidate",
        "settingsObservation.invalidate",
        "beginActivity Reproducción en curso system+display",  // the page's video still plays
        "player.removeTimeObserver",
        "player.removeItemObserver",
        "player.removeItemObserver",
        "player.removeItemObserver",
        "removeKeyDownMonitor",
        "playerView.allowsPictureInPicture no",
        "player.pause",
        "playerView.setPlayer nil",
        "spinner.stop",
        "playerView.removeFromSuperview",
        "window.setTitle Brindlemar",
        "web.evaluateScript",
    };
    EXPECT_EQ(platform.calls, expected);
    EXPECT_EQ(events(), std::vector<std::string>{"closed"});
    EXPECT_FALSE(platform.players.back()->alive);
    EXPECT_EQ(platform.heldActivities.size(), 1u);

    platform.calls.clear();
    app->stopNative(true);  // a second time: only the title and the event
    EXPECT_EQ(platform.calls, (std::vector<std::string>{"window.setTitle Brindlemar", "web.evaluateScript"}));
    EXPECT_EQ(events(), (std::vector<std::string>{"closed", "closed"}));
}

TEST_F(PlayerTest, ADelegateThatGoesWhilePlayingHandsEverythingBack) {
    app->awakeWeb = true;
    app->updateAwake();
    start();
    platform.setTimeControl(platform.lastPlayer(), TimeControlStatus::Playing);
    platform.runPosted();
    platform.scripts.clear();
    std::weak_ptr<Player> player = app->player;
    app.reset();
    EXPECT_TRUE(player.expired());
    EXPECT_FALSE(platform.players.back()->alive);
    EXPECT_TRUE(platform.players.back()->timeObservers.empty());
    EXPECT_TRUE(platform.players.back()->itemObservers.empty());
    EXPECT_EQ(platform.playerViews.back()->view, nullptr);
    EXPECT_EQ(platform.keyMonitors(), 0u);
    EXPECT_TRUE(platform.heldActivities.empty());
    EXPECT_EQ(events(), std::vector<std::string>{});  // quitting tells the page nothing
}

TEST_F(PlayerTest, EscapeEndsPlaybackAndIsSwallowedOnlyWhilePlaying) {
    EXPECT_FALSE(platform.pressKey(true));
    start();
    EXPECT_FALSE(platform.pressKey(false));
    EXPECT_TRUE(platform.pressKey(true));
    EXPECT_EQ(events(), (std::vector<std::string>{"ready", "closed"}));
    EXPECT_FALSE(platform.pressKey(true));
    EXPECT_EQ(platform.keyMonitors(), 0u);
}

TEST_F(PlayerTest, BackButtonClosesWithNotice) {
    start();
    platform.playerViews.back()->back();
    EXPECT_EQ(events(), (std::vector<std::string>{"ready", "closed"}));
    EXPECT_FALSE(app->playerView);
}

TEST_F(PlayerTest, PictureInPictureHidesAndShowsThePlayerView) {
    start();
    PlayerViewRecord& view = *platform.playerViews.back();
    EXPECT_FALSE(view.pip.shouldAutomaticallyDismissAtStart(*view.view));
    platform.windowVisible = false;
    view.pip.didStart(*view.view);
    EXPECT_TRUE(view.hidden);
    EXPECT_TRUE(platform.windowVisible);
    platform.windowVisible = false;
    view.pip.didStop(*view.view);
    EXPECT_FALSE(view.hidden);
    EXPECT_FALSE(platform.windowVisible);  // stopping alone does not bring the window forward
    view.pip.didStart(*view.view);
    int completions = 0;
    bool restored = false;
    view.pip.restoreUserInterface(*view.view, [&](bool r) {
        ++completions;
        restored = r;
    });
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(restored);
    EXPECT_FALSE(view.hidden);
    EXPECT_EQ(events(), std::vector<std::string>{"ready"});  // nothing told to the page
    EXPECT_TRUE(platform.pressKey(true));                    // Escape still ends playback
}

TEST(LanguageTags, Canonical) {
    const std::pair<const char*, const char*> cases[] = {
        {"ES", "es"}, {"pt_BR", "pt-br"}, {"por-BR", "pt-br"}, {"SPA", "es"}, {"zh-Hant-TW", "zh-hant-tw"},
        {"--en--", "en"}, {"", ""}, {"-", ""}, {"GER", "de"}, {"und", "und"}, {"xyz", "xyz"},
        {"ÉS", "és"},
    };
    for (const auto& [input, output] : cases) EXPECT_EQ(canonicalLanguageTag(input), output) << input;
}

TEST(LanguageTags, SpanishNamesForTheTrackMenus) {
    const std::pair<const char*, const char*> cases[] = {
        {"es", "Español"}, {"spa", "Español"}, {"eng", "Inglés"}, {"fre", "Francés"}, {"ger", "Alemán"},
        {"pt-BR", "Portugués"}, {"ja", "Japonés"}, {"zh-Hant-TW", "Chino"}, {"eu", "Euskera"},
        {"ZH", "Chino"}, {"xyz", "xyz"}, {"", ""}, {"-", "-"}, {"ÉS", "ÉS"},
    };
    for (const auto& [input, output] : cases) EXPECT_EQ(languageDisplayName(input), output) << input;
}

TEST_F(PlayerTest, LanguageSelection) {
    struct Case {
        const char* name;
        std::string choice;
        std::optional<std::vector<MediaOption>> options;
        std::vector<std::string> selections;
    };
    auto tags = [](std::initializer_list<std::optional<std::string>> list) {
        std::vector<MediaOption> options;
        for (const auto& tag : list) options.push_back(MediaOption{tag, std::nullopt});
        return options;
    };
    const std::vector<Case> cases = {
        {"spa among en, es", "spa", tags({"en", "es"}), {"audible 1"}},
        {"es among en, es", "es", tags({"en", "es"}), {"audible 1"}},
        {"es: es-ES before es-419", "es", tags({"es-ES", "es-419"}), {"audible 0"}},
        {"es: exact beats earlier es-419", "es", tags({"es-419", "es"}), {"audible 1"}},
        {"es-419 without exact match", "es-419", tags({"es-ES", "es"}), {}},
        {"pt_BR matches pt-BR", "pt_BR", tags({"en", "pt-BR"}), {"audible 1"}},
        {"en matches locale eng", "en", std::vector<MediaOption>{{std::nullopt, "eng"}}, {"audible 0"}},
        {"de: ger exact before de-CH", "de", tags({"de-CH", "ger"}), {"audible 1"}},
        {"off", "off", tags({"en"}), {"audible none"}},
        {"Off is a tag", "Off", tags({"en"}), {}},
        {"original", "original", tags({"en"}), {}},
        {"auto", "auto", tags({"en", "es"}), {"audible 0"}},
        {"auto on an empty group", "auto", tags({}), {"audible none"}},
        {"empty choice takes an untagged option", "", std::vector<MediaOption>{{"en", {}}, {std::nullopt, std::nullopt}}, {"audible 1"}},
        {"empty choice, all tagged", "", tags({"en"}), {}},
        {"no group", "es", std::nullopt, {}},
        {"no group, off", "off", std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        PlayerRecord& player = platform.lastPlayer();
        player.audible = c.options;
        app->selectLanguage(c.choice, MediaCharacteristic::Audible, *player.item);
        EXPECT_EQ(player.selections, c.selections);
    }
}

}  // namespace
}  // namespace brindlemar::testing
