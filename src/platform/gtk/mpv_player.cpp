#include "platform/gtk/mpv_player.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "bridge/url.hpp"
#include "platform/gtk/main_loop_queue.hpp"
#include "platform/gtk/mpv_errors.hpp"
#include "platform/gtk/mpv_instance.hpp"
#include "platform/gtk/mpv_tracks.hpp"
#include "platform/gtk/mpv_video.hpp"
#include "platform/media_time.hpp"

namespace brindlemar::gtk {

namespace {

// Reply ids of the observed properties, the hook and the requests whose answer counts.
enum : std::uint64_t {
    observedPause = 1,
    observedPausedForCache,
    observedSeeking,
    observedCoreIdle,
    observedEofReached,
    observedTimePos,
    observedDuration,
    observedTrackList,
    observedViaNetwork,
    // The viewer's settings, observedVolume to observedHwdecCurrent.
    observedVolume,
    observedMute,
    observedSpeed,
    observedSubDelay,
    observedAudioDelay,
    observedSubScale,
    observedChapterList,
    observedHwdecCurrent,
    preloadedHook,
    tracksAtPreloadReply,
    tracksAtLoadReply,
};

// Numbers for mpv's text arguments, whatever the locale.
std::string decimal(double value) {
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

// Scheme, host and port of a URL, each as written; the port filled in from the
// scheme where it is left out.
std::optional<std::string> originOf(const std::string& text) {
    std::optional<Url> url = parseUrl(text);
    if (!url || !url->scheme || !url->host) return std::nullopt;
    std::string scheme = *url->scheme;
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
    std::int64_t port = url->port.value_or(scheme == "https" ? 443 : scheme == "http" ? 80 : -1);
    return scheme + "://" + *url->host + ":" + std::to_string(port);
}

bool sameOrigin(const std::string& url, const std::string& origin) {
    std::optional<std::string> a = originOf(url);
    return a && a == originOf(origin);
}

// mpv keeps delays and the subtitle size in single precision: read back to the
// thousandth, they are the values that were set.
double thousandths(double value) {
    return std::round(value * 1000) / 1000;
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

class MpvPlayer;

namespace {

// What the player and its item share. The item may outlive the player; `player` is
// cleared when the player goes, and the item then answers from what it last knew.
struct PlaybackState {
    MpvPlayer* player = nullptr;
    ItemStatus status = ItemStatus::Unknown;
    std::optional<double> duration;
    std::vector<MpvTrack> tracks;
    std::vector<Chapter> chapters;
    bool streamsKnown = false;
    PlaybackError error = PlaybackError::Unknown;
};

}  // namespace

class MpvPlayer final : public Player {
public:
    MpvPlayer(const std::string& url, std::chrono::seconds forwardBuffer, const std::string& subtitleUrl,
              const std::optional<HttpCookie>& cookie, VideoOutput output);
    ~MpvPlayer() override;

    std::shared_ptr<PlayerItem> currentItem() const override { return item_; }
    TimeControlStatus timeControlStatus() const override { return reported_; }
    void play() override;
    void pause() override;
    void seek(double seconds) override;

    std::unique_ptr<Observation> observeStatus(std::function<void()> changed) override {
        return statusObservers_.add(std::move(changed));
    }
    std::unique_ptr<Observation> observeTimeControlStatus(std::function<void()> changed) override {
        return timeControlObservers_.add(std::move(changed));
    }
    Token addPeriodicTimeObserver(std::chrono::milliseconds interval,
                                  std::function<void(double seconds)> tick) override;
    void removeTimeObserver(Token token) override;
    Token addItemObserver(ItemNotification notification, std::function<void()> posted) override;
    void removeItemObserver(Token token) override { itemObservers_.erase(token.id); }
    void loadMediaSelectionOptions(std::function<void()> completion) override;

    std::optional<double> volume() const override { return volume_; }
    void setVolume(double volume) override;
    bool muted() const override { return muted_; }
    void setMuted(bool muted) override;
    double rate() const override { return rate_; }
    void setRate(double rate) override;
    double subtitleDelay() const override { return subtitleDelay_; }
    void setSubtitleDelay(double seconds) override;
    double audioDelay() const override { return audioDelay_; }
    void setAudioDelay(double seconds) override;
    double subtitleScale() const override { return subtitleScale_; }
    void setSubtitleScale(double scale) override;
    bool nightMode() const override { return nightMode_; }
    void setNightMode(bool on) override;
    void setHardwareDecoding(bool allowed) override;
    std::string hardwareDecoder() const override { return hardwareDecoder_; }
    std::unique_ptr<Observation> observeSettings(std::function<void()> changed) override {
        return settingsObservers_.add(std::move(changed));
    }
    std::optional<std::size_t> selectedMediaOption(MediaCharacteristic characteristic) const override {
        return selectedIndexOf(state_->tracks, characteristic);
    }
    bool mediaSelectionEnabled(MediaCharacteristic characteristic) const override {
        return selectedIndexOf(state_->tracks, characteristic).has_value();
    }

    void selectMediaOption(std::optional<std::size_t> index, MediaCharacteristic characteristic);
    GtkWidget* videoWidget();

private:
    void showSoftwareVideo();
    void pictureShown();
    void openGlChanged(bool attached);
    void fallBackToSoftware();
    struct TimeObserver {
        MpvPlayer* player;
        guint source = 0;
        std::function<void(double)> tick;
    };
    struct ItemObserver {
        ItemNotification notification;
        std::function<void()> posted;
    };

    void started(mpv_handle* handle);
    void load();
    void handle(const std::vector<MpvEvent>& events);
    void handle(const MpvEvent& event);
    void propertyChanged(const MpvEvent& event);
    void preloaded(std::uint64_t hookId);
    void tracksAtPreload(const MpvEvent& event);
    void continuePreload();
    void fileLoaded();
    void fileEnded(const MpvEvent& end);
    void fail(const char* reason);

    void setPause(bool paused);
    void setProperty(const char* name, const std::string& value);
    // A setting of the user's: passed on at once, or once the instance has started.
    void setSetting(const char* name, const std::string& value);
    void setNumber(const char* name, double& field, double value, double low, double high, double scale = 1.0);
    void settingsChanged();
    void command(std::vector<std::string> arguments);
    void seekNow(double seconds);

    void setStatus(ItemStatus status);
    void post(ItemNotification notification);
    void completeMediaSelectionLoads();
    void updateTimeControlStatus();
    static gboolean onTimeObserverTimer(gpointer data);

    const std::string url_;
    std::shared_ptr<PlaybackState> state_ = std::make_shared<PlaybackState>();
    std::shared_ptr<PlayerItem> item_;
    std::unique_ptr<MpvInstance> instance_;
    mpv_handle* handle_ = nullptr;  // the started instance; its calls here are all asynchronous

    // The start: where, and whether the media was asked to open.
    std::optional<double> startAt_;
    std::optional<double> seekAfterLoad_;
    bool loadIssued_ = false;
    bool loaded_ = false;
    bool tracksReported_ = false;  // a change of the track list came since the media opened

    // What was asked for, and what mpv reports.
    bool wantsToPlay_ = false;
    bool restartAtPlay_ = false;  // at the end: play() starts again from the beginning
    bool paused_ = true;
    bool coreIdle_ = true;
    bool seeking_ = false;
    bool pausedForCache_ = false;
    bool eofReached_ = false;
    bool viaNetwork_ = false;
    // Where playback stood when a track switch was asked for, until it has gone on past it.
    std::optional<double> switchFrom_;
    std::optional<double> timePos_;
    std::optional<double> volume_;
    bool muted_ = false;
    double rate_ = 1.0;
    double subtitleDelay_ = 0;
    double audioDelay_ = 0;
    double subtitleScale_ = 1.0;
    bool nightMode_ = false;
    std::string hardwareDecoder_;
    // Settings asked for before the instance started, in order.
    std::vector<std::pair<std::string, std::string>> pendingSettings_;
    // mpv's latest warnings and errors, to tell why a file could not be played.
    std::deque<std::string> recentMessages_;
    TimeControlStatus reported_ = TimeControlStatus::Paused;
    bool hasPlayed_ = false;
    bool endReported_ = false;
    bool failureReported_ = false;

    // The tracks are known and held before any is decoded, until the choices made
    // meanwhile are passed on (see preloaded).
    std::optional<std::uint64_t> preloadHook_;
    std::optional<std::optional<std::size_t>> pendingAudio_;
    std::optional<std::optional<std::size_t>> pendingSubtitle_;

    bool softwareRenderer_;
    std::unique_ptr<SoftwareVideo> softwareVideo_;
    std::unique_ptr<OpenGlVideo> openGlVideo_;
    bool openGlAttached_ = false;
    bool firstPictureShown_ = false;
    // The video track shown when the OpenGL context went, to show again with the next.
    std::optional<std::int64_t> videoTrack_;
    GRef<GtkWidget> videoBox_;

    ObserverList statusObservers_;
    ObserverList timeControlObservers_;
    ObserverList settingsObservers_;
    std::map<std::uint64_t, std::unique_ptr<TimeObserver>> timeObservers_;
    std::map<std::uint64_t, ItemObserver> itemObservers_;
    std::vector<std::function<void()>> pendingLoads_;
    std::uint64_t nextId_ = 1;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
    MainLoopQueue queue_;  // last: queued work goes before anything it could reach
};

namespace {

class MpvPlayerItem final : public PlayerItem {
public:
    explicit MpvPlayerItem(std::shared_ptr<PlaybackState> state) : state_(std::move(state)) {}

    ItemStatus status() const override { return state_->status; }
    std::optional<double> duration() const override { return state_->duration; }

    std::optional<std::vector<MediaOption>> mediaSelectionOptions(
        MediaCharacteristic characteristic) const override {
        if (!state_->player || !state_->streamsKnown) return std::nullopt;
        return optionsOf(state_->tracks, characteristic);
    }

    void selectMediaOption(std::optional<std::size_t> index, MediaCharacteristic characteristic) override {
        if (state_->player) state_->player->selectMediaOption(index, characteristic);
    }

    PlaybackError error() const override { return state_->error; }
    std::vector<Chapter> chapters() const override { return state_->chapters; }

private:
    std::shared_ptr<PlaybackState> state_;
};

}  // namespace

MpvPlayer::MpvPlayer(const std::string& url, std::chrono::seconds forwardBuffer, const std::string& subtitleUrl,
                     const std::optional<HttpCookie>& cookie, VideoOutput output)
    : url_(url), item_(std::make_shared<MpvPlayerItem>(state_)),
      softwareRenderer_(output == VideoOutput::Software) {
    state_->player = this;

    MpvSettings settings;
    settings.softwareVideo = output == VideoOutput::Software;
    auto& options = settings.options;
    // Nothing of the user's own mpv set-up is read, and nothing acts on its own: no
    // configuration, scripts, key bindings, on-screen controller, terminal or
    // remembered positions; no files looked up beside the media.
    for (const char* name : {"config", "terminal", "input-default-bindings", "input-vo-keyboard", "osc",
                             "ytdl", "load-scripts", "load-stats-overlay", "load-osd-console",
                             "load-auto-profiles", "resume-playback", "save-position-on-quit"})
        options.emplace_back(name, "no");
    options.emplace_back("sub-auto", "no");
    options.emplace_back("audio-file-auto", "no");
    options.emplace_back("cover-art-auto", "no");
    options.emplace_back("osd-level", "0");
    // Subtitles stay on the picture, clear of the control bar along its bottom.
    options.emplace_back("sub-use-margins", "no");
    options.emplace_back("sub-margin-y", "60");
    // Stays on the last picture at the end, and stays up with nothing open.
    options.emplace_back("keep-open", "yes");
    options.emplace_back("idle", "yes");
    options.emplace_back("pause", "yes");
    options.emplace_back("vo", "libmpv");
    // Without a sound device the video still plays, timed by the clock.
    options.emplace_back("audio-fallback-to-null", "yes");
    options.emplace_back("cache-secs", std::to_string(forwardBuffer.count()));
    // Up to 150 %, the boost the volume control offers.
    options.emplace_back("volume-max", "150");
    options.emplace_back("hwdec", environment("BRINDLEMAR_HWDEC")
                                      .value_or(output == VideoOutput::OpenGL ? "auto-safe" : "no"));
    const bool withCookie = cookie && sameOrigin(url, cookie->origin);
    if (withCookie)
        settings.listOptions.emplace_back("http-header-fields",
                                          std::vector<std::string>{"Cookie: " + cookie->name + "=" + cookie->value});
    // The header goes with every request of this instance: a subtitle file elsewhere
    // would receive it, so it is not opened then.
    if (!subtitleUrl.empty() && (!withCookie || sameOrigin(subtitleUrl, cookie->origin)))
        settings.listOptions.emplace_back("sub-files", std::vector<std::string>{subtitleUrl});

    settings.observed = {
        {observedPause, "pause", MPV_FORMAT_FLAG},
        {observedPausedForCache, "paused-for-cache", MPV_FORMAT_FLAG},
        {observedSeeking, "seeking", MPV_FORMAT_FLAG},
        {observedCoreIdle, "core-idle", MPV_FORMAT_FLAG},
        {observedEofReached, "eof-reached", MPV_FORMAT_FLAG},
        {observedTimePos, "time-pos", MPV_FORMAT_DOUBLE},
        {observedDuration, "duration", MPV_FORMAT_DOUBLE},
        {observedTrackList, "track-list", MPV_FORMAT_NODE},
        {observedVolume, "volume", MPV_FORMAT_DOUBLE},
        {observedViaNetwork, "demuxer-via-network", MPV_FORMAT_FLAG},
        {observedMute, "mute", MPV_FORMAT_FLAG},
        {observedSpeed, "speed", MPV_FORMAT_DOUBLE},
        {observedSubDelay, "sub-delay", MPV_FORMAT_DOUBLE},
        {observedAudioDelay, "audio-delay", MPV_FORMAT_DOUBLE},
        {observedSubScale, "sub-scale", MPV_FORMAT_DOUBLE},
        {observedChapterList, "chapter-list", MPV_FORMAT_NODE},
        {observedHwdecCurrent, "hwdec-current", MPV_FORMAT_STRING},
    };
    settings.logLevel = "warn";
    settings.hooks = {{preloadedHook, "on_preloaded"}};

    instance_ = std::make_unique<MpvInstance>(
        std::move(settings),
        MpvInstance::Callbacks{
            [this](mpv_handle* handle) { started(handle); },
            [this](std::vector<MpvEvent> events) { handle(events); },
            [this] {
                pictureShown();
                if (softwareVideo_) softwareVideo_->newFrame();
            },
        });
}

MpvPlayer::~MpvPlayer() {
    state_->player = nullptr;
    for (auto& [id, observer] : timeObservers_) g_clear_handle_id(&observer->source, g_source_remove);
    // The OpenGL context goes before the instance it renders for.
    openGlVideo_.reset();
    softwareVideo_.reset();
    // A hook still held is let go with the instance.
    instance_.reset();
    handle_ = nullptr;
}

// ---- start ----

void MpvPlayer::started(mpv_handle* handle) {
    if (!handle) {
        // mpv could not set up its outputs (or anything else) for this instance.
        state_->error = PlaybackError::OutputFailed;
        fail("the player could not start");
        return;
    }
    handle_ = handle;
    if (openGlVideo_) openGlVideo_->setHandle(handle);
    for (const auto& [name, value] : std::exchange(pendingSettings_, {})) setProperty(name.c_str(), value);
    if (wantsToPlay_) setPause(false);
    load();
}

// Opened once there is somewhere to show the picture: at once with the software
// renderer, once the OpenGL context exists otherwise.
void MpvPlayer::load() {
    if (!handle_ || loadIssued_) return;
    if (!softwareRenderer_ && !openGlAttached_) return;
    loadIssued_ = true;
    std::vector<std::string> arguments{"loadfile", url_, "replace"};
    if (startAt_ && *startAt_ > 0) arguments.push_back("start=" + decimal(*startAt_));
    command(std::move(arguments));
}

void MpvPlayer::fail(const char* reason) {
    g_message("Reproducción nativa: %s", reason);
    wantsToPlay_ = false;
    if (state_->status == ItemStatus::Unknown) {
        setStatus(ItemStatus::Failed);
        completeMediaSelectionLoads();
    }
    updateTimeControlStatus();
}

// ---- events ----

void MpvPlayer::handle(const std::vector<MpvEvent>& events) {
    if (!handle_) return;
    // mpv hands out its messages after its other events: a failure's own words may
    // come behind it in the batch, and are taken first.
    for (const MpvEvent& event : events) {
        if (event.id != MPV_EVENT_LOG_MESSAGE || !event.text) continue;
        recentMessages_.push_back(*event.text);
        if (recentMessages_.size() > 12) recentMessages_.pop_front();
    }
    for (const MpvEvent& event : events) handle(event);
    updateTimeControlStatus();
}

void MpvPlayer::handle(const MpvEvent& event) {
    switch (event.id) {
    case MPV_EVENT_PROPERTY_CHANGE:
        propertyChanged(event);
        break;
    case MPV_EVENT_HOOK:
        if (event.replyId == preloadedHook) preloaded(event.hookId);
        break;
    case MPV_EVENT_GET_PROPERTY_REPLY:
        if (event.replyId == tracksAtPreloadReply) tracksAtPreload(event);
        // Older than any change reported since.
        if (event.replyId == tracksAtLoadReply && event.error >= 0 && event.tracks && !tracksReported_) {
            state_->tracks = *event.tracks;
            tracksReported_ = true;
        }
        break;
    case MPV_EVENT_FILE_LOADED:
        fileLoaded();
        break;
    case MPV_EVENT_END_FILE:
        fileEnded(event);
        break;
    default:
        break;
    }
}

void MpvPlayer::propertyChanged(const MpvEvent& event) {
    const bool flag = event.flag.value_or(false);
    const std::optional<double>& number = event.number;
    switch (event.replyId) {
    case observedPause:
        paused_ = event.flag.value_or(true);
        break;
    case observedCoreIdle:
        coreIdle_ = event.flag.value_or(true);
        break;
    case observedSeeking:
        seeking_ = flag;
        break;
    case observedPausedForCache:
        // The cache ran dry while playing: a stall, when bytes that come over the
        // network are late. Not while a seek or the start is under way, not while
        // paused, and not while a track switch is being taken up: the track switched
        // to is read again from the current position, and mpv waits for it as for a
        // network that is late, even from a local file.
        if (flag && !pausedForCache_ && wantsToPlay_ && hasPlayed_ && !seeking_ && viaNetwork_ &&
            !switchFrom_)
            post(ItemNotification::PlaybackStalled);
        pausedForCache_ = flag;
        break;
    case observedViaNetwork:
        viaNetwork_ = flag;
        break;
    case observedEofReached:
        if (flag && !eofReached_ && loaded_) {
            wantsToPlay_ = false;
            restartAtPlay_ = true;
            if (!std::exchange(endReported_, true)) post(ItemNotification::PlayedToEnd);
        } else if (!flag) {
            endReported_ = false;
        }
        eofReached_ = flag;
        break;
    case observedTimePos:
        timePos_ = number;
        // A switch is taken up once playback has gone on a second past it.
        if (switchFrom_ && number && *number >= *switchFrom_ + 1.0) switchFrom_.reset();
        break;
    case observedDuration:
        state_->duration = number && std::isfinite(*number) ? number : std::nullopt;
        break;
    case observedVolume:
        if (number) volume_ = std::clamp(*number / 100.0, 0.0, maxVolume);
        break;
    case observedMute:
        muted_ = flag;
        break;
    case observedSpeed:
        if (number) rate_ = *number;
        break;
    case observedSubDelay:
        if (number) subtitleDelay_ = thousandths(*number);
        break;
    case observedAudioDelay:
        if (number) audioDelay_ = thousandths(*number);
        break;
    case observedSubScale:
        if (number) subtitleScale_ = thousandths(*number);
        break;
    case observedChapterList:
        state_->chapters = event.chapters.value_or(std::vector<Chapter>{});
        break;
    case observedHwdecCurrent:
        hardwareDecoder_ = event.text.value_or("");
        if (hardwareDecoder_ == "no") hardwareDecoder_.clear();
        break;
    case observedTrackList:
        // Until the media is open, the list read at the hook holds.
        if (loaded_ && event.tracks) {
            state_->tracks = *event.tracks;
            tracksReported_ = true;
        }
        break;
    default:
        break;
    }
    if (event.replyId >= observedVolume && event.replyId <= observedHwdecCurrent) settingsChanged();
}

// The media is open and its tracks are known, but none is chosen or decoded yet. mpv
// waits here until the hook is continued: the track list is read, the completions
// of loadMediaSelectionOptions run, and the choices they make reach mpv before it
// goes on, so that playback starts in them (see continuePreload).
void MpvPlayer::preloaded(std::uint64_t hookId) {
    preloadHook_ = hookId;
    mpv_get_property_async(handle_, tracksAtPreloadReply, "track-list", MPV_FORMAT_NODE);
}

void MpvPlayer::tracksAtPreload(const MpvEvent& event) {
    if (event.error >= 0 && event.tracks) state_->tracks = *event.tracks;
    state_->streamsKnown = true;
    completeMediaSelectionLoads();
    // The completions were queued just before, at the same priority: they run first,
    // and so does work they queue in turn, up to two more turns of the main loop
    // (the application chooses one turn later). A lower priority would do without
    // counting turns, but drawing runs above it: a busy window would hold mpv here.
    queue_.post([this] { queue_.post([this] { queue_.post([this] { continuePreload(); }); }); });
}

// The choices held meanwhile are set on the instance's thread, in order, before the
// hook is continued there: mpv then selects exactly these tracks.
void MpvPlayer::continuePreload() {
    if (!preloadHook_) return;
    const std::uint64_t hook = *std::exchange(preloadHook_, std::nullopt);
    std::vector<std::pair<std::string, std::string>> choices;
    if (pendingAudio_)
        if (auto value = trackPropertyValue(state_->tracks, MediaCharacteristic::Audible, *pendingAudio_))
            choices.emplace_back("aid", *value);
    if (pendingSubtitle_)
        if (auto value = trackPropertyValue(state_->tracks, MediaCharacteristic::Legible, *pendingSubtitle_))
            choices.emplace_back("sid", *value);
    pendingAudio_.reset();
    pendingSubtitle_.reset();
    instance_->run([choices, hook](mpv_handle* handle) {
        if (!handle) return;
        for (const auto& [name, value] : choices) mpv_set_property_string(handle, name.c_str(), value.c_str());
        mpv_hook_continue(handle, hook);
    });
}

void MpvPlayer::fileLoaded() {
    loaded_ = true;
    if (!state_->streamsKnown) {
        state_->streamsKnown = true;
        completeMediaSelectionLoads();
    }
    setStatus(ItemStatus::ReadyToPlay);
    if (seekAfterLoad_) seekNow(*std::exchange(seekAfterLoad_, std::nullopt));
    // A change of the list reported before this was left out (see propertyChanged):
    // read it again.
    mpv_get_property_async(handle_, tracksAtLoadReply, "track-list", MPV_FORMAT_NODE);
}

void MpvPlayer::fileEnded(const MpvEvent& end) {
    if (end.endReason == MPV_END_FILE_REASON_ERROR) {
        state_->error = playbackErrorOf(end.endError, recentMessages_);
        for (const std::string& message : recentMessages_) g_message("mpv: %s", message.c_str());
        if (state_->status == ItemStatus::Unknown) {
            fail(mpv_error_string(end.endError));
            return;
        }
        g_message("Reproducción nativa interrumpida: %s", mpv_error_string(end.endError));
        wantsToPlay_ = false;
        if (!std::exchange(failureReported_, true)) post(ItemNotification::FailedToPlayToEnd);
        return;
    }
    if (end.endReason == MPV_END_FILE_REASON_EOF && loaded_) {
        // Only when the last picture could not be kept.
        wantsToPlay_ = false;
        if (!std::exchange(endReported_, true)) post(ItemNotification::PlayedToEnd);
    }
}

// ---- play, pause, seek, volume, tracks ----

void MpvPlayer::setPause(bool paused) {
    int flag = paused ? 1 : 0;
    mpv_set_property_async(handle_, 0, "pause", MPV_FORMAT_FLAG, &flag);
}

void MpvPlayer::setProperty(const char* name, const std::string& value) {
    const char* text = value.c_str();
    mpv_set_property_async(handle_, 0, name, MPV_FORMAT_STRING, &text);
}

void MpvPlayer::command(std::vector<std::string> arguments) {
    std::vector<const char*> argv;
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    mpv_command_async(handle_, 0, argv.data());
}

void MpvPlayer::seekNow(double seconds) {
    command({"seek", decimal(seconds), "absolute+exact"});
}

void MpvPlayer::play() {
    if (state_->status == ItemStatus::Failed) return;
    wantsToPlay_ = true;
    failureReported_ = false;
    if (handle_) {
        if (restartAtPlay_ && loaded_) seekNow(0);
        setPause(false);
    }
    restartAtPlay_ = false;
    updateTimeControlStatus();
}

void MpvPlayer::pause() {
    wantsToPlay_ = false;
    if (handle_ && state_->status != ItemStatus::Failed) setPause(true);
    updateTimeControlStatus();
}

// NaN seeks nowhere; before the media is opened, the seek is where it opens.
void MpvPlayer::seek(double seconds) {
    const std::optional<std::int64_t> ticks = seekTicks(seconds);
    if (!ticks || state_->status == ItemStatus::Failed) return;
    const double target = static_cast<double>(*ticks) / seekTicksPerSecond;
    restartAtPlay_ = false;
    if (switchFrom_) switchFrom_ = target;
    if (!loadIssued_) {
        startAt_ = target;
    } else if (!loaded_) {
        seekAfterLoad_ = target;
    } else {
        seekNow(target);
    }
}

void MpvPlayer::setSetting(const char* name, const std::string& value) {
    if (handle_) {
        setProperty(name, value);
    } else {
        pendingSettings_.emplace_back(name, value);
    }
}

// What mpv reports comes back through the observed properties, and is told again.
void MpvPlayer::settingsChanged() {
    queue_.post(settingsObservers_.notifier());
}

// A number the viewer sets: held to its range, read back at once (so that steps made
// in a row add up), and passed on to mpv as `scale` times the value.
void MpvPlayer::setNumber(const char* name, double& field, double value, double low, double high, double scale) {
    if (std::isnan(value)) return;
    field = std::clamp(value, low, high);
    setSetting(name, decimal(field * scale));
    settingsChanged();
}

void MpvPlayer::setVolume(double volume) {
    double known = volume_.value_or(1.0);
    setNumber("volume", known, volume, 0.0, maxVolume, 100.0);
    if (!std::isnan(volume)) volume_ = known;
}

void MpvPlayer::setMuted(bool muted) {
    muted_ = muted;
    setSetting("mute", muted ? "yes" : "no");
    settingsChanged();
}

void MpvPlayer::setRate(double rate) {
    setNumber("speed", rate_, rate, minRate, maxRate);
}

void MpvPlayer::setSubtitleDelay(double seconds) {
    setNumber("sub-delay", subtitleDelay_, seconds, -600.0, 600.0);
}

void MpvPlayer::setAudioDelay(double seconds) {
    setNumber("audio-delay", audioDelay_, seconds, -600.0, 600.0);
}

void MpvPlayer::setSubtitleScale(double scale) {
    setNumber("sub-scale", subtitleScale_, scale, 0.5, 2.0);
}

// A compressor on the sound: loud passages come down, and the whole is lifted back.
void MpvPlayer::setNightMode(bool on) {
    if (nightMode_ == on) return;
    nightMode_ = on;
    setSetting("af", on ? "lavfi=[acompressor=threshold=0.05:ratio=6:attack=5:release=200:makeup=3]" : "");
    settingsChanged();
}

// Settles which decoders mpv tries, before the media opens. The environment's choice
// (for tests and troubleshooting) stands over the page's.
void MpvPlayer::setHardwareDecoding(bool allowed) {
    if (environment("BRINDLEMAR_HWDEC")) return;
    setSetting("hwdec", allowed ? "auto-safe" : "no");
}

// Choices made before the tracks are known, or while mpv waits at the hook, are
// passed on when the hook is continued; later ones at once.
void MpvPlayer::selectMediaOption(std::optional<std::size_t> index, MediaCharacteristic characteristic) {
    if (!handle_ || !state_->streamsKnown || preloadHook_) {
        (characteristic == MediaCharacteristic::Audible ? pendingAudio_ : pendingSubtitle_) = index;
        return;
    }
    if (auto value = trackPropertyValue(state_->tracks, characteristic, index)) {
        setProperty(characteristic == MediaCharacteristic::Audible ? "aid" : "sid", *value);
        switchFrom_ = timePos_.value_or(0);
        // The choice reads back at once, before mpv reports its new track list.
        std::optional<std::int64_t> id = index ? trackIdOf(state_->tracks, characteristic, *index) : std::nullopt;
        for (MpvTrack& track : state_->tracks)
            if (track.type == trackTypeOf(characteristic)) track.selected = id && track.id == *id;
    }
}

// ---- the time-control status ----

// Paused unless play() was asked for. Then playing once mpv runs unpaused, and
// waiting to play while the media opens, a seek is made, the cache fills or the
// request to play is still on its way to mpv.
void MpvPlayer::updateTimeControlStatus() {
    TimeControlStatus now = TimeControlStatus::Paused;
    if (wantsToPlay_)
        now = loaded_ && !paused_ && !coreIdle_ && !pausedForCache_ ? TimeControlStatus::Playing
                                                                     : TimeControlStatus::WaitingToPlay;
    if (now == TimeControlStatus::Playing) hasPlayed_ = true;
    if (now == reported_) return;
    reported_ = now;
    queue_.post(timeControlObservers_.notifier());
}

// ---- the item's status and notifications ----

void MpvPlayer::setStatus(ItemStatus status) {
    if (state_->status == status) return;
    state_->status = status;
    queue_.post(statusObservers_.notifier());
}

void MpvPlayer::post(ItemNotification notification) {
    queue_.post([this, notification] {
        std::vector<std::uint64_t> ids;
        for (const auto& [id, observer] : itemObservers_)
            if (observer.notification == notification) ids.push_back(id);
        // An observer can destroy the player while others are still to be called.
        std::weak_ptr<int> alive = lifetime_;
        for (std::uint64_t id : ids) {
            if (alive.expired()) return;
            auto it = itemObservers_.find(id);
            if (it == itemObservers_.end()) continue;
            auto posted = it->second.posted;
            posted();
        }
    });
}

void MpvPlayer::loadMediaSelectionOptions(std::function<void()> completion) {
    pendingLoads_.push_back(std::move(completion));
    if (state_->streamsKnown || state_->status == ItemStatus::Failed) completeMediaSelectionLoads();
}

void MpvPlayer::completeMediaSelectionLoads() {
    for (auto& completion : std::exchange(pendingLoads_, {})) queue_.post(std::move(completion));
}

// ---- observers ----

Token MpvPlayer::addItemObserver(ItemNotification notification, std::function<void()> posted) {
    const std::uint64_t id = nextId_++;
    itemObservers_.emplace(id, ItemObserver{notification, std::move(posted)});
    return Token{id};
}

// Each observer has its own timer. It ticks only while playing, with mpv's position.
Token MpvPlayer::addPeriodicTimeObserver(std::chrono::milliseconds interval,
                                         std::function<void(double seconds)> tick) {
    const std::uint64_t id = nextId_++;
    auto observer = std::make_unique<TimeObserver>(TimeObserver{this, 0, std::move(tick)});
    const guint ms = static_cast<guint>(std::max<std::chrono::milliseconds::rep>(interval.count(), 1));
    observer->source = g_timeout_add(ms, onTimeObserverTimer, observer.get());
    timeObservers_.emplace(id, std::move(observer));
    return Token{id};
}

void MpvPlayer::removeTimeObserver(Token token) {
    auto it = timeObservers_.find(token.id);
    if (it == timeObservers_.end()) return;
    g_clear_handle_id(&it->second->source, g_source_remove);
    timeObservers_.erase(it);
}

gboolean MpvPlayer::onTimeObserverTimer(gpointer data) {
    auto* observer = static_cast<TimeObserver*>(data);
    MpvPlayer* self = observer->player;
    if (self->reported_ != TimeControlStatus::Playing || !self->timePos_) return G_SOURCE_CONTINUE;
    // A copy: the tick may remove this observer or destroy the player.
    auto tick = observer->tick;
    tick(*self->timePos_);
    return G_SOURCE_CONTINUE;
}

// ---- the picture ----

GtkWidget* MpvPlayer::videoWidget() {
    if (videoBox_) return videoBox_.get();
    videoBox_ = sink(gtk_event_box_new());
    GtkWidget* box = videoBox_.get();
    if (softwareRenderer_) {
        showSoftwareVideo();
        return box;
    }
    openGlVideo_ = std::make_unique<OpenGlVideo>([this](bool attached) { openGlChanged(attached); },
                                                  [this] { pictureShown(); });
    gtk_container_add(GTK_CONTAINER(box), openGlVideo_->widget());
    if (handle_) openGlVideo_->setHandle(handle_);
    gtk_widget_show(box);
    return box;
}

// For the benchmarks (G_MESSAGES_DEBUG=brindlemar): when the first picture of the
// media is ready to be shown.
void MpvPlayer::pictureShown() {
    if (!loaded_ || std::exchange(firstPictureShown_, true)) return;
    g_log("brindlemar", G_LOG_LEVEL_DEBUG, "first picture at %" G_GINT64_FORMAT " us (monotonic)",
          g_get_monotonic_time());
}

void MpvPlayer::showSoftwareVideo() {
    softwareVideo_ = std::make_unique<SoftwareVideo>(instance_->frame(), [this](int width, int height) {
        instance_->setVideoSize(width, height);
    });
    gtk_container_add(GTK_CONTAINER(videoBox_.get()), softwareVideo_->widget());
}

void MpvPlayer::openGlChanged(bool attached) {
    openGlAttached_ = attached;
    if (attached) {
        load();
        // The picture went with the context before: shown again.
        if (auto track = std::exchange(videoTrack_, std::nullopt); track && handle_)
            setProperty("vid", std::to_string(*track));
        return;
    }
    if (openGlVideo_ && openGlVideo_->failed()) {
        // No OpenGL here after all: the software renderer takes over, on a later turn
        // (this runs inside the area's own realize).
        queue_.post([this] { fallBackToSoftware(); });
        return;
    }
    // mpv takes the picture down with the context; the track it showed is kept.
    if (loaded_) {
        for (const MpvTrack& track : state_->tracks)
            if (track.type == "video" && track.selected) videoTrack_ = track.id;
    }
}

void MpvPlayer::fallBackToSoftware() {
    if (softwareRenderer_) return;
    g_message("Reproducción nativa: sin OpenGL, la imagen se dibuja por software");
    softwareRenderer_ = true;
    if (openGlVideo_) gtk_container_remove(GTK_CONTAINER(videoBox_.get()), openGlVideo_->widget());
    openGlVideo_.reset();
    instance_->renderInSoftware();
    showSoftwareVideo();
    load();
}

// ---- the factory ----

std::unique_ptr<Player> createMpvPlayer(const std::string& url, std::chrono::seconds forwardBuffer,
                                        const std::string& subtitleUrl, const std::optional<HttpCookie>& cookie,
                                        VideoOutput output) {
    return std::make_unique<MpvPlayer>(url, forwardBuffer, subtitleUrl, cookie, output);
}

GtkWidget* videoWidgetOf(Player& player) {
    auto* mpvPlayer = dynamic_cast<MpvPlayer*>(&player);
    return mpvPlayer ? mpvPlayer->videoWidget() : nullptr;
}

bool playerReleasesPending() {
    return MpvInstance::releasesPending();
}

void waitForPlayerReleases() {
    MpvInstance::waitForReleases();
}

}  // namespace brindlemar::gtk
