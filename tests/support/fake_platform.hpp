// A platform that records every call in order and runs delayed work on a manual
// clock, so "12 s later" or "after the child exits" are exact and instant.
#pragma once

#include <chrono>
#include <map>
#include <ostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace brindlemar {

// How test failures write the remembered settings.
inline void PrintTo(const PlayerPreferences& preferences, std::ostream* out) {
    *out << "{volume " << preferences.volume << (preferences.muted ? ", muted}" : "}");
}

}  // namespace brindlemar

namespace brindlemar::testing {

using namespace std::chrono_literals;

// What a fake player records, kept after the player itself is gone.
struct PlayerRecord {
    std::string url;
    std::string subtitleUrl;
    std::optional<HttpCookie> cookie;
    bool alive = true;
    ItemStatus status = ItemStatus::Unknown;
    TimeControlStatus timeControl = TimeControlStatus::Paused;
    std::optional<double> duration;
    std::optional<std::vector<MediaOption>> audible;
    std::optional<std::vector<MediaOption>> legible;
    std::vector<std::string> selections;  // "audible 1", "legible none", ...
    std::shared_ptr<PlayerItem> item;
    std::map<std::uint64_t, std::function<void()>> statusObservers;
    std::map<std::uint64_t, std::function<void()>> rateObservers;
    std::map<std::uint64_t, std::function<void(double)>> timeObservers;
    std::map<std::uint64_t, std::pair<ItemNotification, std::function<void()>>> itemObservers;
    std::vector<std::function<void()>> mediaSelectionCompletions;
    PlaybackError error = PlaybackError::Unknown;
    std::vector<Chapter> chapters;
    // What the player's own controls show and change.
    std::optional<double> volume = 1.0;
    bool muted = false;
    double rate = 1.0;
    double subtitleDelay = 0;
    double audioDelay = 0;
    double subtitleScale = 1.0;
    bool nightMode = false;
    std::optional<bool> hardwareDecoding;  // as last set; nothing when never set
    std::string hardwareDecoder;
    std::map<std::uint64_t, std::function<void()>> settingsObservers;
    // The current track of each kind, and whether that kind is played at all.
    std::optional<std::size_t> selectedAudible;
    std::optional<std::size_t> selectedLegible;
    bool audibleEnabled = true;
    bool legibleEnabled = true;
    std::uint64_t nextId = 1;
};

struct PlayerViewRecord {
    bool inTree = true;
    std::string over;  // "web" or "placeholder"
    bool hidden = false;
    bool pipAllowed = false;
    std::weak_ptr<Player> player;
    std::string backTitle;
    std::function<void()> back;
    PictureInPictureDelegate pip;
    PlayerViewEvents events;
    std::optional<std::string> nextUpTitle;  // the next-episode card, while shown
    int nextUpSecondsLeft = 0;
    bool skipIntroVisible = false;
    PlayerView* view = nullptr;
};

struct PanelRecord {
    PanelConfig config;
    std::function<bool(Panel&)> shouldClose;
    Panel* panel = nullptr;
    bool shown = false;
    bool closed = false;
    bool holdsWeb = false;
    std::string position;
};

struct PlaceholderRecord {
    std::string label;
    std::string buttonTitle;
    std::function<void()> action;
    bool alive = true;
};

// What the desktop's media controls were shown of one playback, and how to command it.
struct NowPlayingRecord {
    NowPlayingInfo info;               // as published, then as last updated
    std::vector<NowPlayingInfo> updates;
    std::vector<double> seeks;         // positions announced as seeked
    NowPlayingCommands commands;
    bool published = true;             // false once withdrawn
};

struct ChildRecord {
    ChildCommand command;
    ChildEvents events;
    bool running = true;
    int terminations = 0;
};

class FakePlatform final : public Platform {
public:
    // ---- what the tests set up ----
    std::optional<std::string> resources = std::string("/opt/brindlemar/share/brindlemar");
    std::string dataHome = "/home/ana/.local/share";
    Environment env = {{"HOME", "/home/ana"}, {"PATH", "/usr/bin:/bin"}};
    bool launchFails = false;
    bool randomFails = false;
    bool playerFails = false;  // createPlayer builds nothing
    // Cookie stores complete right after the child's output is handled, unless held;
    // held ones wait for completeCookieStores().
    bool holdCookieStores = false;

    // ---- what the tests read ----
    std::vector<std::string> calls;                 // every platform call, in order
    std::vector<std::string> loads;                 // "html:<document>" or "url:<url>"
    std::vector<std::string> scripts;               // evaluated scripts
    std::vector<std::shared_ptr<ChildRecord>> children;  // launched children
    std::vector<std::shared_ptr<PlayerRecord>> players;
    std::vector<std::shared_ptr<PlayerViewRecord>> playerViews;
    std::set<std::uint64_t> heldActivities;
    std::vector<std::shared_ptr<PanelRecord>> panels;
    std::vector<std::shared_ptr<PlaceholderRecord>> placeholders;
    View* windowContent = nullptr;
    std::vector<std::string> openedUrls;
    std::vector<std::shared_ptr<NowPlayingRecord>> nowPlaying;
    bool spinnerSpinning = false;
    std::vector<Menu> menus;
    WebViewConfig webConfig;
    std::string windowTitle;
    bool windowVisible = false;
    int quitCalls = 0;
    std::vector<HttpCookie> cookieJar;              // cookies whose store has completed
    std::vector<std::function<void(bool)>> pendingCookieStores;
    std::vector<std::string> randomDraws;           // what randomBytes() handed out
    // Loads of the player's remembered settings, waiting for answerPreferences().
    std::vector<std::function<void(std::optional<PlayerPreferences>)>> preferenceLoads;
    std::vector<PlayerPreferences> savedPreferences;

    // ---- driving the platform's side ----
    std::function<void(MenuAction)> menuChosen;
    std::function<void()> windowClosed;
    WebViewEvents webEvents;

    std::chrono::milliseconds now{0};
    void advance(std::chrono::milliseconds by);     // runs the work that falls due, in order
    void advanceTo(std::chrono::milliseconds at) { advance(at - now); }
    std::size_t pendingWork() const { return timers_.size(); }

    // The child writes bytes, or exits.
    void childWrites(std::size_t child, const std::string& bytes);
    void childExits(std::size_t child);
    // Completes every pending cookie store, stored or failed.
    void completeCookieStores(bool stored = true);
    ChildRecord& lastChild() { return *children.back(); }

    // The message and retry button of the status page currently loaded ("" if none).
    std::string statusMessage() const;
    bool statusRetry() const;
    std::size_t urlLoads() const;
    void closeMainWindow();

    // The player's side: status changes, time ticks, notifications, key presses.
    PlayerRecord& lastPlayer() { return *players.back(); }
    void setItemStatus(PlayerRecord& player, ItemStatus status);
    void setTimeControl(PlayerRecord& player, TimeControlStatus status);
    void tick(PlayerRecord& player, double seconds);
    void notify(PlayerRecord& player, ItemNotification notification);
    void completeMediaSelection(PlayerRecord& player);
    // The user changes what the player's controls show (the volume, mute, speed, ...):
    // `change` edits the record, and the player's settings observers hear of it.
    void changeSettings(PlayerRecord& player, const std::function<void(PlayerRecord&)>& change);
    // Answers every pending load of the remembered settings.
    void answerPreferences(std::optional<PlayerPreferences> stored);
    bool pressKey(bool escape);  // true when a monitor swallowed it
    std::size_t keyMonitors() const { return keyMonitors_.size(); }
    void runPosted() { advance(std::chrono::milliseconds(0)); }

    // ---- Platform ----
    void setMainMenu(const std::vector<Menu>& menus, std::function<void(MenuAction)> chosen) override;
    std::unique_ptr<WebView> createWebView(const WebViewConfig& config, WebViewEvents events) override;
    std::unique_ptr<Window> createWindow(int width, int height, std::function<void()> closed) override;
    void activate() override;
    void quit() override;
    std::optional<std::string> resourcesDirectory() override;
    std::string userDataDirectory() override;
    Environment environment() override;
    std::optional<std::string> randomBytes(std::size_t count) override;
    std::unique_ptr<ChildProcess> launch(const ChildCommand& command, ChildEvents events) override;
    std::unique_ptr<Player> createPlayer(const std::string& url, std::chrono::seconds forwardBuffer,
                                         const std::string& subtitleUrl,
                                         const std::optional<HttpCookie>& cookie) override;
    std::unique_ptr<PlayerView> createPlayerView(View& content) override;
    std::unique_ptr<Panel> createPanel(const PanelConfig& config, std::function<bool(Panel&)> shouldClose) override;
    std::unique_ptr<View> createPlaceholder(const std::string& label, const std::string& buttonTitle,
                                            std::function<void()> action) override;
    std::optional<Token> addKeyDownMonitor(std::function<bool(const KeyDown&)> handler) override;
    void removeKeyDownMonitor(Token token) override;
    Token beginActivity(const ActivityOptions& options, const std::string& reason) override;
    void endActivity(Token token) override;
    void openUrl(const std::string& url) override;
    std::unique_ptr<NowPlaying> publishNowPlaying(const NowPlayingInfo& info, NowPlayingCommands commands) override;
    void loadPlayerPreferences(std::function<void(std::optional<PlayerPreferences>)> done) override;
    void savePlayerPreferences(const PlayerPreferences& preferences) override;
    void post(std::function<void()> work) override;
    void after(std::chrono::milliseconds delay, std::function<void()> work) override;

private:
    struct Timer {
        std::chrono::milliseconds due;
        std::uint64_t order;
        std::function<void()> work;
    };
    std::vector<Timer> timers_;
    std::map<std::uint64_t, std::function<bool(const KeyDown&)>> keyMonitors_;
    std::uint64_t nextToken_ = 1;
    std::uint64_t timerOrder_ = 0;
};

}  // namespace brindlemar::testing
