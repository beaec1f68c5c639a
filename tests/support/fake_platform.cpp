#include "support/fake_platform.hpp"

#include <algorithm>
#include <sstream>
#include <utility>

#include "platform/media_time.hpp"
#include "shell/resources.hpp"

namespace brindlemar::testing {

namespace {

class FakeWebView final : public WebView {
public:
    explicit FakeWebView(FakePlatform& p) : p_(p) {}
    void setInspectable(bool inspectable) override {
        p_.calls.push_back(std::string("web.setInspectable ") + (inspectable ? "true" : "false"));
    }
    void loadHtml(const std::string& html) override {
        p_.calls.push_back("web.loadHtml");
        p_.loads.push_back("html:" + html);
    }
    void addCookie(const HttpCookie& cookie, std::function<void(bool)> done) override {
        p_.calls.push_back("web.addCookie " + cookie.name + " " + cookie.origin + cookie.path +
                           (cookie.httpOnly ? " HttpOnly" : "") +
                           (cookie.sameSiteStrict ? " SameSite=Strict" : ""));
        p_.pendingCookieStores.push_back([&p = p_, cookie, done = std::move(done)](bool stored) {
            if (stored) p.cookieJar.push_back(cookie);
            done(stored);
        });
    }
    void loadRequest(const std::string& url, std::chrono::seconds timeout) override {
        p_.calls.push_back("web.loadRequest " + url + " " + std::to_string(timeout.count()) + "s");
        p_.loads.push_back("url:" + url);
    }
    void evaluateScript(const std::string& script) override {
        p_.calls.push_back("web.evaluateScript");
        p_.scripts.push_back(script);
    }
    void performEdit(MenuAction action) override {
        p_.calls.push_back("web.performEdit " + std::to_string(static_cast<int>(action)));
    }

private:
    FakePlatform& p_;
};

class FakeWindow final : public Window {
public:
    explicit FakeWindow(FakePlatform& p) : p_(p) {}
    void setTitle(const std::string& title) override {
        p_.calls.push_back("window.setTitle " + title);
        p_.windowTitle = title;
    }
    void setMinSize(int w, int h) override {
        p_.calls.push_back("window.setMinSize " + std::to_string(w) + "x" + std::to_string(h));
    }
    void setContentView(View& view) override {
        p_.calls.push_back(std::string("window.setContentView ") +
                           (dynamic_cast<WebView*>(&view) ? "web" : "placeholder"));
        content_ = &view;
        p_.windowContent = &view;
        if (owned_ && owned_.get() != &view) owned_.reset();
    }
    void setContentView(std::unique_ptr<View> view) override {
        View& shown = *view;
        auto previous = std::move(owned_);
        owned_ = std::move(view);
        setContentView(shown);
    }
    View* contentView() const override { return content_; }
    void center() override { p_.calls.push_back("window.center"); }
    void makeKeyAndOrderFront() override {
        p_.calls.push_back("window.makeKeyAndOrderFront");
        p_.windowVisible = true;
    }

private:
    FakePlatform& p_;
    View* content_ = nullptr;
    std::unique_ptr<View> owned_;
};

class FakePlaceholder final : public View {
public:
    explicit FakePlaceholder(std::shared_ptr<PlaceholderRecord> record) : record_(std::move(record)) {}
    ~FakePlaceholder() override { record_->alive = false; }

private:
    std::shared_ptr<PlaceholderRecord> record_;
};

class FakePanel final : public Panel {
public:
    FakePanel(FakePlatform& p, std::shared_ptr<PanelRecord> record) : p_(p), record_(std::move(record)) {
        record_->panel = this;
    }
    ~FakePanel() override { record_->panel = nullptr; }
    void setContentView(View& view) override {
        p_.calls.push_back("panel.setContentView");
        record_->holdsWeb = dynamic_cast<WebView*>(&view) != nullptr;
    }
    void moveToBottomRight(Window&, int right, int bottom) override {
        p_.calls.push_back("panel.moveToBottomRight");
        record_->position = "bottom-right " + std::to_string(right) + "," + std::to_string(bottom);
    }
    void orderFrontRegardless() override {
        p_.calls.push_back("panel.orderFrontRegardless");
        record_->shown = true;
    }
    void close() override {
        p_.calls.push_back("panel.close");
        record_->closed = true;
        record_->shown = false;
        record_->holdsWeb = false;
    }

private:
    FakePlatform& p_;
    std::shared_ptr<PanelRecord> record_;
};

class FakeChild final : public ChildProcess {
public:
    FakeChild(FakePlatform& p, std::shared_ptr<ChildRecord> record) : p_(p), record_(std::move(record)) {}
    bool isRunning() const override { return record_->running; }
    void terminate() override {
        p_.calls.push_back("child.terminate");
        ++record_->terminations;
    }

private:
    FakePlatform& p_;
    std::shared_ptr<ChildRecord> record_;
};

// Records its invalidation, once, as "<what>.invalidate" (also when only destroyed).
class FakeObservation final : public Observation {
public:
    FakeObservation(FakePlatform& p, std::string what, std::shared_ptr<PlayerRecord> record,
                    std::map<std::uint64_t, std::function<void()>> PlayerRecord::*observers, std::uint64_t id)
        : p_(p), what_(std::move(what)), record_(std::move(record)), observers_(observers), id_(id) {}
    ~FakeObservation() override { invalidate(); }
    void invalidate() override {
        if (std::exchange(invalidated_, true)) return;
        p_.calls.push_back(what_ + ".invalidate");
        ((*record_).*observers_).erase(id_);
    }

private:
    FakePlatform& p_;
    std::string what_;
    std::shared_ptr<PlayerRecord> record_;
    std::map<std::uint64_t, std::function<void()>> PlayerRecord::*observers_;
    std::uint64_t id_;
    bool invalidated_ = false;
};

const char* nameOf(ItemNotification notification) {
    switch (notification) {
    case ItemNotification::PlayedToEnd: return "playedToEnd";
    case ItemNotification::FailedToPlayToEnd: return "failedToPlayToEnd";
    case ItemNotification::PlaybackStalled: return "stalled";
    }
    return "";
}

class FakePlayerItem final : public PlayerItem {
public:
    explicit FakePlayerItem(PlayerRecord& record) : record_(record) {}
    ItemStatus status() const override { return record_.status; }
    std::optional<double> duration() const override { return record_.duration; }
    std::optional<std::vector<MediaOption>> mediaSelectionOptions(MediaCharacteristic c) const override {
        return c == MediaCharacteristic::Audible ? record_.audible : record_.legible;
    }
    void selectMediaOption(std::optional<std::size_t> index, MediaCharacteristic c) override {
        record_.selections.push_back(std::string(c == MediaCharacteristic::Audible ? "audible " : "legible ") +
                                     (index ? std::to_string(*index) : "none"));
    }
    PlaybackError error() const override { return record_.error; }
    std::vector<Chapter> chapters() const override { return record_.chapters; }

private:
    PlayerRecord& record_;
};

// A value as a call record writes it: 1, 0.5, 1.25.
std::string text(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

class FakePlayer final : public Player {
public:
    FakePlayer(FakePlatform& p, std::shared_ptr<PlayerRecord> record) : p_(p), record_(std::move(record)) {
        record_->item = std::make_shared<FakePlayerItem>(*record_);
    }
    ~FakePlayer() override {
        record_->alive = false;
        record_->item.reset();
    }
    std::shared_ptr<PlayerItem> currentItem() const override { return record_->item; }
    TimeControlStatus timeControlStatus() const override { return record_->timeControl; }
    void play() override { p_.calls.push_back("player.play"); }
    void pause() override { p_.calls.push_back("player.pause"); }
    // Recorded as the target a real player seeks to, in ticks of 1/600 s.
    void seek(double seconds) override {
        std::optional<std::int64_t> ticks = seekTicks(seconds);
        p_.calls.push_back("player.seek " + (ticks ? std::to_string(*ticks) + "/600" : std::string("NaN")));
    }
    std::unique_ptr<Observation> observeStatus(std::function<void()> changed) override {
        p_.calls.push_back("player.observeStatus");
        auto id = record_->nextId++;
        record_->statusObservers[id] = std::move(changed);
        return std::make_unique<FakeObservation>(p_, "statusObservation", record_, &PlayerRecord::statusObservers, id);
    }
    std::unique_ptr<Observation> observeTimeControlStatus(std::function<void()> changed) override {
        p_.calls.push_back("player.observeTimeControlStatus");
        auto id = record_->nextId++;
        record_->rateObservers[id] = std::move(changed);
        return std::make_unique<FakeObservation>(p_, "rateObservation", record_, &PlayerRecord::rateObservers, id);
    }
    Token addPeriodicTimeObserver(std::chrono::milliseconds interval, std::function<void(double)> tick) override {
        p_.calls.push_back("player.addPeriodicTimeObserver " + std::to_string(interval.count()) + "ms");
        auto id = record_->nextId++;
        record_->timeObservers[id] = std::move(tick);
        return Token{id};
    }
    void removeTimeObserver(Token token) override {
        p_.calls.push_back("player.removeTimeObserver");
        record_->timeObservers.erase(token.id);
    }
    Token addItemObserver(ItemNotification n, std::function<void()> posted) override {
        p_.calls.push_back(std::string("player.addItemObserver ") + nameOf(n));
        auto id = record_->nextId++;
        record_->itemObservers[id] = {n, std::move(posted)};
        return Token{id};
    }
    void removeItemObserver(Token token) override {
        p_.calls.push_back("player.removeItemObserver");
        record_->itemObservers.erase(token.id);
    }
    void loadMediaSelectionOptions(std::function<void()> completion) override {
        p_.calls.push_back("player.loadMediaSelectionOptions");
        record_->mediaSelectionCompletions.push_back(std::move(completion));
    }
    // Every setter is recorded and, as on a real player, heard by the settings observers.
    std::optional<double> volume() const override { return record_->volume; }
    void setVolume(double volume) override {
        set("setVolume " + text(volume), [volume](PlayerRecord& r) { r.volume = std::clamp(volume, 0.0, maxVolume); });
    }
    bool muted() const override { return record_->muted; }
    void setMuted(bool muted) override {
        set(std::string("setMuted ") + (muted ? "yes" : "no"), [muted](PlayerRecord& r) { r.muted = muted; });
    }
    double rate() const override { return record_->rate; }
    void setRate(double rate) override {
        set("setRate " + text(rate), [rate](PlayerRecord& r) { r.rate = std::clamp(rate, minRate, maxRate); });
    }
    double subtitleDelay() const override { return record_->subtitleDelay; }
    void setSubtitleDelay(double seconds) override {
        set("setSubtitleDelay " + text(seconds), [seconds](PlayerRecord& r) { r.subtitleDelay = seconds; });
    }
    double audioDelay() const override { return record_->audioDelay; }
    void setAudioDelay(double seconds) override {
        set("setAudioDelay " + text(seconds), [seconds](PlayerRecord& r) { r.audioDelay = seconds; });
    }
    double subtitleScale() const override { return record_->subtitleScale; }
    void setSubtitleScale(double scale) override {
        set("setSubtitleScale " + text(scale), [scale](PlayerRecord& r) { r.subtitleScale = scale; });
    }
    bool nightMode() const override { return record_->nightMode; }
    void setNightMode(bool on) override {
        set(std::string("setNightMode ") + (on ? "yes" : "no"), [on](PlayerRecord& r) { r.nightMode = on; });
    }
    void setHardwareDecoding(bool allowed) override {
        p_.calls.push_back(std::string("player.setHardwareDecoding ") + (allowed ? "yes" : "no"));
        record_->hardwareDecoding = allowed;
    }
    std::string hardwareDecoder() const override { return record_->hardwareDecoder; }
    std::unique_ptr<Observation> observeSettings(std::function<void()> changed) override {
        p_.calls.push_back("player.observeSettings");
        auto id = record_->nextId++;
        record_->settingsObservers[id] = std::move(changed);
        return std::make_unique<FakeObservation>(p_, "settingsObservation", record_, &PlayerRecord::settingsObservers,
                                                 id);
    }
    std::optional<std::size_t> selectedMediaOption(MediaCharacteristic c) const override {
        return c == MediaCharacteristic::Audible ? record_->selectedAudible : record_->selectedLegible;
    }
    bool mediaSelectionEnabled(MediaCharacteristic c) const override {
        return c == MediaCharacteristic::Audible ? record_->audibleEnabled : record_->legibleEnabled;
    }

private:
    void set(const std::string& call, const std::function<void(PlayerRecord&)>& change) {
        p_.calls.push_back("player." + call);
        p_.changeSettings(*record_, change);
    }

    FakePlatform& p_;
    std::shared_ptr<PlayerRecord> record_;
};

class FakeSpinner final : public Spinner {
public:
    explicit FakeSpinner(FakePlatform& p) : p_(p) {}
    void startAnimation() override {
        p_.calls.push_back("spinner.start");
        p_.spinnerSpinning = true;
    }
    void stopAnimation() override {
        p_.calls.push_back("spinner.stop");
        p_.spinnerSpinning = false;
    }

private:
    FakePlatform& p_;
};

class FakePlayerView final : public PlayerView {
public:
    FakePlayerView(FakePlatform& p, std::shared_ptr<PlayerViewRecord> record) : p_(p), record_(std::move(record)) {
        record_->view = this;
    }
    ~FakePlayerView() override { record_->view = nullptr; }
    void setPlayer(std::weak_ptr<Player> player) override {
        p_.calls.push_back(player.expired() ? "playerView.setPlayer nil" : "playerView.setPlayer");
        record_->player = std::move(player);
    }
    void setAllowsPictureInPicturePlayback(bool allowed) override {
        p_.calls.push_back(std::string("playerView.allowsPictureInPicture ") + (allowed ? "yes" : "no"));
        record_->pipAllowed = allowed;
    }
    void setPictureInPictureDelegate(PictureInPictureDelegate delegate) override { record_->pip = std::move(delegate); }
    void addBackButton(const std::string& title, std::function<void()> action) override {
        p_.calls.push_back("playerView.addBackButton " + title);
        record_->backTitle = title;
        record_->back = std::move(action);
    }
    std::unique_ptr<Spinner> addSpinner() override {
        p_.calls.push_back("playerView.addSpinner");
        return std::make_unique<FakeSpinner>(p_);
    }
    void setHidden(bool hidden) override {
        p_.calls.push_back(std::string("playerView.hidden ") + (hidden ? "yes" : "no"));
        record_->hidden = hidden;
    }
    void removeFromSuperview() override {
        p_.calls.push_back("playerView.removeFromSuperview");
        record_->inTree = false;
    }
    void moveOver(View& content) override {
        std::string over = dynamic_cast<WebView*>(&content) ? "web" : "placeholder";
        if (over == record_->over) return;
        p_.calls.push_back("playerView.moveOver " + over);
        record_->over = over;
    }
    void setEvents(PlayerViewEvents events) override { record_->events = std::move(events); }
    void showNextUp(const std::string& title, int secondsLeft) override {
        p_.calls.push_back("playerView.showNextUp " + title + " " + std::to_string(secondsLeft));
        record_->nextUpTitle = title;
        record_->nextUpSecondsLeft = secondsLeft;
    }
    void hideNextUp() override {
        p_.calls.push_back("playerView.hideNextUp");
        record_->nextUpTitle.reset();
        record_->nextUpSecondsLeft = 0;
    }
    void setSkipIntroVisible(bool visible) override {
        p_.calls.push_back(std::string("playerView.skipIntro ") + (visible ? "yes" : "no"));
        record_->skipIntroVisible = visible;
    }

private:
    FakePlatform& p_;
    std::shared_ptr<PlayerViewRecord> record_;
};

}  // namespace

void FakePlatform::setItemStatus(PlayerRecord& player, ItemStatus status) {
    player.status = status;
    auto observers = player.statusObservers;
    for (auto& [id, observer] : observers) observer();
}

void FakePlatform::setTimeControl(PlayerRecord& player, TimeControlStatus status) {
    player.timeControl = status;
    auto observers = player.rateObservers;
    for (auto& [id, observer] : observers) observer();
}

void FakePlatform::tick(PlayerRecord& player, double seconds) {
    auto observers = player.timeObservers;
    for (auto& [id, observer] : observers) observer(seconds);
}

void FakePlatform::notify(PlayerRecord& player, ItemNotification notification) {
    auto observers = player.itemObservers;
    for (auto& [id, observer] : observers)
        if (observer.first == notification) observer.second();
}

void FakePlatform::changeSettings(PlayerRecord& player, const std::function<void(PlayerRecord&)>& change) {
    change(player);
    auto observers = player.settingsObservers;
    for (auto& [id, observer] : observers) observer();
}

void FakePlatform::answerPreferences(std::optional<PlayerPreferences> stored) {
    auto loads = std::exchange(preferenceLoads, {});
    for (auto& done : loads) done(stored);
}

void FakePlatform::completeMediaSelection(PlayerRecord& player) {
    auto completions = std::move(player.mediaSelectionCompletions);
    player.mediaSelectionCompletions.clear();
    for (auto& completion : completions) completion();
}

bool FakePlatform::pressKey(bool escape) {
    auto monitors = keyMonitors_;
    for (auto& [id, monitor] : monitors)
        if (keyMonitors_.count(id) && monitor(KeyDown{escape})) return true;
    return false;
}

void FakePlatform::advance(std::chrono::milliseconds by) {
    const auto target = now + by;
    for (;;) {
        auto next = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (next == timers_.end() || next->due > target) break;
        now = next->due;
        auto work = std::move(next->work);
        timers_.erase(next);
        work();
    }
    now = target;
}

void FakePlatform::childWrites(std::size_t child, const std::string& bytes) {
    children.at(child)->events.output(bytes);
    if (!holdCookieStores) completeCookieStores(true);
}

void FakePlatform::completeCookieStores(bool stored) {
    auto pending = std::exchange(pendingCookieStores, {});
    for (auto& done : pending) done(stored);
}

void FakePlatform::childExits(std::size_t child) {
    children.at(child)->running = false;
    children.at(child)->events.exited();
}

std::string FakePlatform::statusMessage() const {
    if (loads.empty() || !loads.back().starts_with("html:")) return "";
    std::string page = loads.back().substr(5);
    std::size_t start = resources::statusPageTemplate.size();
    std::size_t end = page.find("</p>\n  ", start);
    return end == std::string::npos ? "" : page.substr(start, end - start);
}

bool FakePlatform::statusRetry() const {
    return !loads.empty() && loads.back().find(std::string(resources::retryButton)) != std::string::npos;
}

std::size_t FakePlatform::urlLoads() const {
    return std::count_if(loads.begin(), loads.end(), [](const std::string& l) { return l.starts_with("url:"); });
}

void FakePlatform::closeMainWindow() {
    windowVisible = false;
    windowClosed();
}

void FakePlatform::setMainMenu(const std::vector<Menu>& m, std::function<void(MenuAction)> chosen) {
    calls.push_back("setMainMenu");
    menus = m;
    menuChosen = std::move(chosen);
}

std::unique_ptr<WebView> FakePlatform::createWebView(const WebViewConfig& config, WebViewEvents events) {
    calls.push_back("createWebView");
    webConfig = config;
    webEvents = std::move(events);
    return std::make_unique<FakeWebView>(*this);
}

std::unique_ptr<Window> FakePlatform::createWindow(int width, int height, std::function<void()> closed) {
    calls.push_back("createWindow " + std::to_string(width) + "x" + std::to_string(height));
    windowClosed = std::move(closed);
    return std::make_unique<FakeWindow>(*this);
}

void FakePlatform::activate() { calls.push_back("activate"); }

void FakePlatform::quit() {
    calls.push_back("quit");
    ++quitCalls;
}

std::optional<std::string> FakePlatform::resourcesDirectory() { return resources; }
std::string FakePlatform::userDataDirectory() { return dataHome; }
Environment FakePlatform::environment() { return env; }

std::optional<std::string> FakePlatform::randomBytes(std::size_t count) {
    calls.push_back("randomBytes " + std::to_string(count));
    if (randomFails) return std::nullopt;
    // Different on every draw, and not text.
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>((randomDraws.size() * 131 + i * 37 + 0xa5) & 0xff);
    randomDraws.push_back(bytes);
    return bytes;
}

std::unique_ptr<ChildProcess> FakePlatform::launch(const ChildCommand& command, ChildEvents events) {
    calls.push_back("launch " + command.executable);
    if (launchFails) return nullptr;
    auto record = std::make_shared<ChildRecord>();
    record->command = command;
    record->events = std::move(events);
    children.push_back(record);
    return std::make_unique<FakeChild>(*this, record);
}

std::unique_ptr<Player> FakePlatform::createPlayer(const std::string& url, std::chrono::seconds buffer,
                                                   const std::string& subtitleUrl,
                                                   const std::optional<HttpCookie>& cookie) {
    calls.push_back("createPlayer " + url + " " + std::to_string(buffer.count()) + "s" +
                    (subtitleUrl.empty() ? "" : " subtitles " + subtitleUrl));
    if (playerFails) return nullptr;
    auto record = std::make_shared<PlayerRecord>();
    record->url = url;
    record->subtitleUrl = subtitleUrl;
    record->cookie = cookie;
    players.push_back(record);
    return std::make_unique<FakePlayer>(*this, record);
}

std::unique_ptr<PlayerView> FakePlatform::createPlayerView(View& content) {
    calls.push_back(std::string("createPlayerView over ") + (dynamic_cast<WebView*>(&content) ? "web" : "view"));
    auto record = std::make_shared<PlayerViewRecord>();
    record->over = dynamic_cast<WebView*>(&content) ? "web" : "placeholder";
    playerViews.push_back(record);
    return std::make_unique<FakePlayerView>(*this, record);
}

std::unique_ptr<Panel> FakePlatform::createPanel(const PanelConfig& config,
                                                 std::function<bool(Panel&)> shouldClose) {
    calls.push_back("createPanel");
    auto record = std::make_shared<PanelRecord>();
    record->config = config;
    record->shouldClose = std::move(shouldClose);
    panels.push_back(record);
    return std::make_unique<FakePanel>(*this, record);
}

std::unique_ptr<View> FakePlatform::createPlaceholder(const std::string& label, const std::string& buttonTitle,
                                                      std::function<void()> action) {
    calls.push_back("createPlaceholder");
    auto record = std::make_shared<PlaceholderRecord>();
    record->label = label;
    record->buttonTitle = buttonTitle;
    record->action = std::move(action);
    placeholders.push_back(record);
    return std::make_unique<FakePlaceholder>(record);
}

std::optional<Token> FakePlatform::addKeyDownMonitor(std::function<bool(const KeyDown&)> handler) {
    calls.push_back("addKeyDownMonitor");
    Token token{nextToken_++};
    keyMonitors_[token.id] = std::move(handler);
    return token;
}

void FakePlatform::removeKeyDownMonitor(Token token) {
    calls.push_back("removeKeyDownMonitor");
    keyMonitors_.erase(token.id);
}

Token FakePlatform::beginActivity(const ActivityOptions& options, const std::string& reason) {
    calls.push_back("beginActivity " + reason + (options.idleSystemSleepDisabled && options.idleDisplaySleepDisabled ? " system+display" : ""));
    Token token{nextToken_++};
    heldActivities.insert(token.id);
    return token;
}

void FakePlatform::endActivity(Token token) {
    calls.push_back("endActivity");
    heldActivities.erase(token.id);
}

namespace {

class FakeNowPlaying final : public NowPlaying {
public:
    explicit FakeNowPlaying(std::shared_ptr<NowPlayingRecord> record) : record_(std::move(record)) {}
    ~FakeNowPlaying() override { record_->published = false; }
    void update(const NowPlayingInfo& info) override {
        record_->info = info;
        record_->updates.push_back(info);
    }
    void seeked(double position) override { record_->seeks.push_back(position); }

private:
    std::shared_ptr<NowPlayingRecord> record_;
};

}  // namespace

std::unique_ptr<NowPlaying> FakePlatform::publishNowPlaying(const NowPlayingInfo& info,
                                                            NowPlayingCommands commands) {
    calls.push_back("publishNowPlaying " + info.title);
    auto record = std::make_shared<NowPlayingRecord>();
    record->info = info;
    record->commands = std::move(commands);
    nowPlaying.push_back(record);
    return std::make_unique<FakeNowPlaying>(record);
}

void FakePlatform::loadPlayerPreferences(std::function<void(std::optional<PlayerPreferences>)> done) {
    calls.push_back("loadPlayerPreferences");
    preferenceLoads.push_back(std::move(done));
}

void FakePlatform::savePlayerPreferences(const PlayerPreferences& preferences) {
    calls.push_back("savePlayerPreferences " + text(preferences.volume) + (preferences.muted ? " muted" : ""));
    savedPreferences.push_back(preferences);
}

void FakePlatform::openUrl(const std::string& url) {
    calls.push_back("openUrl " + url);
    openedUrls.push_back(url);
}

void FakePlatform::post(std::function<void()> work) {
    calls.push_back("post");
    timers_.push_back(Timer{now, timerOrder_++, std::move(work)});
}

void FakePlatform::after(std::chrono::milliseconds delay, std::function<void()> work) {
    calls.push_back("after " + std::to_string(delay.count()) + "ms");
    timers_.push_back(Timer{now + delay, timerOrder_++, std::move(work)});
}

}  // namespace brindlemar::testing
