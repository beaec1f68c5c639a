#include "platform/gtk/gst_player.hpp"

#include <gst/gst.h>
#include <gst/play/play.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gsignals.hpp"
#include "platform/gtk/gst_http_cookie.hpp"
#include "platform/gtk/gst_media_selection.hpp"
#include "platform/gtk/gst_pipeline_release.hpp"
#include "platform/gtk/main_loop_queue.hpp"
#include "platform/media_time.hpp"

namespace brindlemar::gtk {

namespace {

// Playback whose position stands still this long while playing has an output waiting
// for data that will not come (see GstPlayer::onProgressWatch): longer than any output
// needs to drain at the end, and, elsewhere, longer than an audio device can take to
// start (the position follows its clock).
constexpr gint64 standstillAtEndUs = 1500 * G_TIME_SPAN_MILLISECOND;
constexpr gint64 standstillUs = 3 * G_TIME_SPAN_SECOND;
constexpr guint progressWatchIntervalMs = 250;
constexpr int maxRedeliveries = 2;
// Within this of the duration, a standstill is at the end.
constexpr GstClockTime endTolerance = 250 * GST_MSECOND;

// ---- the subtitle file -----------------------------------------------------------------

// The separate subtitle file is handed to playbin itself, not through GstPlay: GstPlay's
// own call for it restarts the pipeline and then seeks back to where it was, a seek that
// lands right after the first preroll, for nothing. GstPlay clears playbin's subtitle
// address once, when it takes the media address; the handler below puts ours in right
// then, on GstPlay's thread and before the pause that opens them both, and leaves every
// later change alone.
struct SubtitleFile {
    std::string url;
    bool placed = false;
};

void onSubtitleUriChanged(GObject* playbin, GParamSpec*, gpointer data) {
    auto* file = static_cast<SubtitleFile*>(data);
    if (std::exchange(file->placed, true)) return;
    g_object_set(playbin, "suburi", file->url.c_str(), nullptr);
}

// The HTTP source announces its response headers downstream as a sticky event. On the
// subtitle file's path that event reaches the text overlay, which passes it on to its
// video output; after every seek the file is fetched again, and when the event comes
// while the video side is still flushing, the overlay refuses it, the parser's next
// buffer fails with it, and the subtitle overlay turns subtitles off for the rest of
// the playback. Nothing on that path uses the headers: they are dropped at the source.
GstPadProbeReturn dropHeaderEvents(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstEvent* event = gst_pad_probe_info_get_event(info);
    if (event && GST_EVENT_TYPE(event) == GST_EVENT_CUSTOM_DOWNSTREAM_STICKY &&
        gst_event_has_name(event, "http-headers"))
        return GST_PAD_PROBE_DROP;
    return GST_PAD_PROBE_OK;
}

// Runs on whichever thread playbin creates the element on; reads only the address,
// which never changes.
void onElementSetup(GstElement*, GstElement* element, gpointer data) {
    const auto* file = static_cast<const SubtitleFile*>(data);
    if (!GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SOURCE) ||
        !g_object_class_find_property(G_OBJECT_GET_CLASS(element), "location"))
        return;
    g_autofree gchar* location = nullptr;
    g_object_get(element, "location", &location, nullptr);
    if (!location || file->url != location) return;
    auto pad = adopt(gst_element_get_static_pad(element, "src"));
    if (pad)
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, dropHeaderEvents, nullptr,
                          nullptr);
}

void freeSubtitleFile(gpointer data, GClosure*) { delete static_cast<SubtitleFile*>(data); }

// Each handler owns its copy, freed with the pipeline.
void openSubtitleFileWith(GstElement* playbin, const std::string& url) {
    g_signal_connect_data(playbin, "notify::suburi", G_CALLBACK(onSubtitleUriChanged),
                          new SubtitleFile{url}, freeSubtitleFile, GConnectFlags(0));
    g_signal_connect_data(playbin, "element-setup", G_CALLBACK(onElementSetup), new SubtitleFile{url},
                          freeSubtitleFile, GConnectFlags(0));
}

// ---- the item --------------------------------------------------------------------------

// What the player and its item share. The item may outlive the player (its holder
// keeps a shared_ptr); `play` is cleared when the player goes, and the item then
// answers from what it last knew.
struct PlaybackState {
    GRef<GstPlay> play;
    std::string subtitleUrl;  // the separate subtitle file, if any
    ItemStatus status = ItemStatus::Unknown;
    bool live = false;
    // The first media information, with its stream lists, has arrived: tracks can be
    // chosen from now on.
    bool streamsKnown = false;
    // A seek is under way, or playback is about to start after one. Switching to
    // another audio stream then leaves playbin's audio without data: playback never
    // starts, or never moves. Such a switch waits until playback runs (or the seek is
    // done, when nothing is to play). Turning audio off, and subtitle choices, are
    // passed on at once: held back until playing, they keep playbin from reporting the
    // end.
    bool seeking = false;
    // Choices not yet passed on, applied once the pipeline can take them. The outer
    // optional says whether a choice was made; the inner one is the choice (nothing:
    // off).
    std::optional<std::optional<std::size_t>> pendingAudio;
    std::optional<std::optional<std::size_t>> pendingSubtitle;
    // Where the last seek goes, until GstPlay reports it done.
    std::optional<GstClockTime> seekTarget;
    // The audio was switched to another track or off: a flushing seek close to that
    // leaves playbin without data, so subtitle switches are not followed by one then.
    bool audioSwitched = false;

    // `redeliver` is false once GstPlay has stopped on an error: nothing flows then.
    void applyPendingSelections(bool redeliver = true) {
        if (!play || !streamsKnown) return;
        if (pendingAudio && currentOptionIndexOf(play.get(), MediaCharacteristic::Audible) != *pendingAudio)
            audioSwitched = true;
        if (pendingAudio && (!seeking || !*pendingAudio))
            selectMediaOptionOf(play.get(), MediaCharacteristic::Audible, *std::exchange(pendingAudio, {}));
        if (pendingSubtitle && select(MediaCharacteristic::Legible, *std::exchange(pendingSubtitle, {})) &&
            redeliver && !audioSwitched)
            deliverAgainFromHere();
    }

    // Whether another track now plays. Off is no switch: nothing of that kind is awaited.
    bool select(MediaCharacteristic characteristic, std::optional<std::size_t> choice) {
        const bool other = choice && currentOptionIndexOf(play.get(), characteristic) != choice;
        return selectMediaOptionOf(play.get(), characteristic, choice) && other;
    }

    // The demuxer runs well ahead on a sparse subtitle track: the track switched to
    // may have been read to its end already, and playbin drops the end of a track that
    // is not current then. The subtitle overlay waits for it, holding the video at its
    // last frame, and the end of the media is never reported. A flushing seek to where
    // playback is (or is going) makes the demuxer deliver the chosen track again from
    // there, its end included, and brings up the cue of the moment at once. (Not done
    // for audio: see `audioSwitched`.)
    void deliverAgainFromHere() {
        GstClockTime at = seekTarget.value_or(gst_play_get_position(play.get()));
        if (!GST_CLOCK_TIME_IS_VALID(at)) at = 0;
        seeking = true;
        seekTarget = at;
        gst_play_seek(play.get(), at);
    }
};

class GstPlayerItem final : public PlayerItem {
public:
    explicit GstPlayerItem(std::shared_ptr<PlaybackState> state) : state_(std::move(state)) {}

    ItemStatus status() const override { return state_->status; }

    // Known and finite only: nothing before the media is open, and nothing for a live
    // stream.
    std::optional<double> duration() const override {
        if (!state_->play || state_->live) return std::nullopt;
        GstClockTime duration = gst_play_get_duration(state_->play.get());
        if (!GST_CLOCK_TIME_IS_VALID(duration)) return std::nullopt;
        return static_cast<double>(duration) / GST_SECOND;
    }

    std::optional<std::vector<MediaOption>> mediaSelectionOptions(
        MediaCharacteristic characteristic) const override {
        if (!state_->play) return std::nullopt;
        return mediaOptionsOf(state_->play.get(), characteristic, state_->subtitleUrl);
    }

    // playbin can only switch tracks once it has opened the media (reached PAUSED), and
    // audio not around a seek; a choice made before is kept and applied then.
    void selectMediaOption(std::optional<std::size_t> index,
                           MediaCharacteristic characteristic) override {
        auto& pending = characteristic == MediaCharacteristic::Audible ? state_->pendingAudio
                                                                       : state_->pendingSubtitle;
        pending = index;
        state_->applyPendingSelections();
    }

private:
    std::shared_ptr<PlaybackState> state_;
};

// ---- the player ----------------------------------------------------------------------------

class GstPlayer final : public Player {
public:
    GstPlayer(const std::string& url, std::chrono::seconds forwardBuffer,
              const std::string& subtitleUrl, const std::optional<HttpCookie>& cookie);
    ~GstPlayer() override;

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
    void removeItemObserver(Token token) override;
    void loadMediaSelectionOptions(std::function<void()> completion) override;

    std::optional<double> volume() const override {
        if (!state_->play) return std::nullopt;
        return gst_play_get_volume(state_->play.get());
    }
    void setVolume(double volume) override {
        if (!state_->play || std::isnan(volume)) return;
        gst_play_set_volume(state_->play.get(), std::clamp(volume, 0.0, 1.0));
    }
    std::optional<std::size_t> selectedMediaOption(MediaCharacteristic characteristic) const override {
        if (!state_->play) return std::nullopt;
        return currentOptionIndexOf(state_->play.get(), characteristic);
    }
    bool mediaSelectionEnabled(MediaCharacteristic characteristic) const override {
        return state_->play && tracksEnabledOf(state_->play.get(), characteristic);
    }

    GtkWidget* videoWidget() const { return widget_.get(); }

private:
    struct TimeObserver {
        GstPlayer* player;
        guint source = 0;
        std::function<void(double)> tick;
    };
    struct ItemObserver {
        ItemNotification notification;
        std::function<void()> posted;
    };

    void connectSignals();
    void failBeforeOpening();

    // Reactions to GstPlay, delivered by the signal adapter on the main loop.
    static void onStateChanged(GstPlaySignalAdapter*, GstPlayState state, gpointer self);
    static void onError(GstPlaySignalAdapter*, GError*, GstStructure*, gpointer self);
    static void onEndOfStream(GstPlaySignalAdapter*, gpointer self);
    static void onBuffering(GstPlaySignalAdapter*, gint percent, gpointer self);
    static void onMediaInfoUpdated(GstPlaySignalAdapter*, GstPlayMediaInfo* info, gpointer self);
    static void onSeekDone(GstPlaySignalAdapter*, guint64 position, gpointer self);
    static gboolean onTimeObserverTimer(gpointer data);
    static gboolean onProgressWatch(gpointer self);

    void setStatus(ItemStatus status);
    void markReady() {
        if (state_->status == ItemStatus::Unknown) setStatus(ItemStatus::ReadyToPlay);
    }
    void post(ItemNotification notification);
    void completeMediaSelectionLoads();
    void updateTimeControlStatus();
    void deliverAgainFrom(GstClockTime position);

    std::shared_ptr<PlaybackState> state_ = std::make_shared<PlaybackState>();
    std::shared_ptr<GstPlayerItem> item_ = std::make_shared<GstPlayerItem>(state_);
    GRef<GstElement> pipeline_;
    GRef<GstElement> sink_;
    GRef<GtkWidget> widget_;
    GRef<GstPlaySignalAdapter> adapter_;
    SignalHandlers adapterHandlers_;

    // What was asked for (play or pause) and what GstPlay last reported; the reported
    // time-control status follows from both.
    bool wantsToPlay_ = false;
    GstPlayState playState_ = GST_PLAY_STATE_STOPPED;
    TimeControlStatus reported_ = TimeControlStatus::Paused;
    bool hasPlayed_ = false;       // reached PLAYING at least once
    bool stalled_ = false;         // inside a dip of buffering below 100 %
    bool failureReported_ = false;  // a failure to play to the end, until the next play()

    // While playing: watches for a position that stands still (onProgressWatch).
    guint progressWatch_ = 0;
    GstClockTime watchedPosition_ = GST_CLOCK_TIME_NONE;
    gint64 watchedSince_ = 0;  // monotonic time the position was first seen there
    // Standstills met since the last play() or seek(); past maxRedeliveries, the page
    // has been told.
    int standstills_ = 0;

    std::uint64_t nextId_ = 1;
    ObserverList statusObservers_;
    ObserverList timeControlObservers_;
    std::map<std::uint64_t, std::unique_ptr<TimeObserver>> timeObservers_;
    std::map<std::uint64_t, ItemObserver> itemObservers_;
    std::vector<std::function<void()>> pendingLoads_;
    std::shared_ptr<void> lifetime_ = std::make_shared<int>(0);  // expires with the player

    MainLoopQueue queue_;  // last: queued work goes before anything it could reach
};

GstPlayer::GstPlayer(const std::string& url, std::chrono::seconds forwardBuffer,
                     const std::string& subtitleUrl, const std::optional<HttpCookie>& cookie) {
    state_->subtitleUrl = subtitleUrl;
    g_autoptr(GError) initError = nullptr;
    if (!gst_init_check(nullptr, nullptr, &initError)) {
        failBeforeOpening();
        return;
    }

    GstElement* sink = gst_element_factory_make("gtksink", nullptr);
    if (sink) {
        sink_ = adopt(GST_ELEMENT(gst_object_ref_sink(sink)));
        GtkWidget* widget = nullptr;
        // Made on first request, on this (the GTK) thread; the sink keeps its own
        // reference, this is ours.
        g_object_get(sink_.get(), "widget", &widget, nullptr);
        widget_ = adopt(widget);
    }
    if (!widget_) {
        // No gtksink, or GTK cannot open a display: the item fails, and an empty widget
        // stands in for the video.
        sink_.reset();
        failBeforeOpening();
        return;
    }

    state_->play = adopt(gst_play_new(nullptr));
    GstPlay* play = state_->play.get();
    pipeline_ = adopt(gst_play_get_pipeline(play));
    if (cookie) sendCookieWithHttpSources(pipeline_.get(), *cookie);
    const gint64 bufferDuration =
        std::chrono::duration_cast<std::chrono::nanoseconds>(forwardBuffer).count();
    g_object_set(pipeline_.get(), "video-sink", sink_.get(), "buffer-duration", bufferDuration,
                 nullptr);

    // Progress is reported from our own timers (see addPeriodicTimeObserver); GstPlay's
    // position messages are kept to one a second.
    GstStructure* config = gst_play_get_config(play);
    gst_play_config_set_position_update_interval(config, 1000);
    gst_play_set_config(play, config);

    adapter_ = adopt(gst_play_signal_adapter_new_with_main_context(play, g_main_context_default()));
    connectSignals();

    if (!subtitleUrl.empty()) openSubtitleFileWith(pipeline_.get(), subtitleUrl);
    gst_play_set_uri(play, url.c_str());
    // Open and preroll the media paused: that makes its streams and duration known (or
    // fails it) before anything plays.
    gst_play_pause(play);
}

GstPlayer::~GstPlayer() {
    // No GStreamer signal reaches this object from here on.
    adapterHandlers_.clear();
    adapter_.reset();
    if (GstPlay* play = state_->play.get()) {
        // Messages GstPlay posts for the adapter each hold a reference to it; left on
        // its bus with nobody reading them, they would keep it (and its thread,
        // pipeline and descriptors) alive for ever. A flushing bus drops them.
        auto bus = adopt(gst_play_get_message_bus(play));
        gst_bus_set_flushing(bus.get(), TRUE);
    }
    for (auto& [id, observer] : timeObservers_) g_clear_handle_id(&observer->source, g_source_remove);
    g_clear_handle_id(&progressWatch_, g_source_remove);
    widget_.reset();
    releaseInBackground(PipelineLeftovers{std::exchange(state_->play, {}), std::move(pipeline_),
                                          std::move(sink_)});
}

void GstPlayer::failBeforeOpening() {
    if (!widget_) widget_ = sink(gtk_drawing_area_new());
    // Observers are registered after creation: the failure is made on a later turn.
    queue_.post([this] {
        setStatus(ItemStatus::Failed);
        completeMediaSelectionLoads();
    });
}

void GstPlayer::connectSignals() {
    GstPlaySignalAdapter* adapter = adapter_.get();
    adapterHandlers_.connect(adapter, "state-changed", G_CALLBACK(onStateChanged), this);
    adapterHandlers_.connect(adapter, "error", G_CALLBACK(onError), this);
    adapterHandlers_.connect(adapter, "end-of-stream", G_CALLBACK(onEndOfStream), this);
    adapterHandlers_.connect(adapter, "buffering", G_CALLBACK(onBuffering), this);
    adapterHandlers_.connect(adapter, "media-info-updated", G_CALLBACK(onMediaInfoUpdated), this);
    adapterHandlers_.connect(adapter, "seek-done", G_CALLBACK(onSeekDone), this);
}

// ---- play, pause, seek ----

void GstPlayer::play() {
    if (!state_->play || state_->status == ItemStatus::Failed) return;
    wantsToPlay_ = true;
    failureReported_ = false;
    standstills_ = 0;
    gst_play_play(state_->play.get());
    updateTimeControlStatus();
}

void GstPlayer::pause() {
    wantsToPlay_ = false;
    if (state_->play && state_->status != ItemStatus::Failed) gst_play_pause(state_->play.get());
    updateTimeControlStatus();
}

void GstPlayer::seek(double seconds) {
    // NaN seeks nowhere; before the pipeline is ready GstPlay keeps the seek and makes
    // it once it is.
    const std::optional<std::int64_t> ticks = seekTicks(seconds);
    if (!state_->play || state_->status == ItemStatus::Failed || !ticks) return;
    standstills_ = 0;
    state_->seeking = true;
    state_->seekTarget =
        gst_util_uint64_scale(static_cast<guint64>(*ticks), GST_SECOND, seekTicksPerSecond);
    gst_play_seek(state_->play.get(), *state_->seekTarget);
}

// A flushing seek made on playbin itself, for a pipeline with an output left waiting
// for data that will not come: GstPlay's own seek first pauses the pipeline and waits
// for it to preroll, which such an output never does. The flush empties every output
// and the demuxer delivers all tracks again from there, each to its end.
void GstPlayer::deliverAgainFrom(GstClockTime position) {
    gst_element_seek(pipeline_.get(), 1.0, GST_FORMAT_TIME,
                     GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), GST_SEEK_TYPE_SET,
                     static_cast<gint64>(position), GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
}

// ---- the time-control status ----

// Paused unless play() was asked for. Then GstPlay's PLAYING is playing, and anything
// else is waiting: BUFFERING, and also PAUSED or STOPPED while the request to play is on
// its way (a pipeline that has not prerolled yet), so that a spinner shows until the
// picture really moves. The end of the stream and an error drop the request to play.
void GstPlayer::updateTimeControlStatus() {
    TimeControlStatus now = TimeControlStatus::Paused;
    if (wantsToPlay_)
        now = playState_ == GST_PLAY_STATE_PLAYING ? TimeControlStatus::Playing
                                                    : TimeControlStatus::WaitingToPlay;
    if (now == TimeControlStatus::Playing && !progressWatch_) {
        watchedPosition_ = GST_CLOCK_TIME_NONE;
        progressWatch_ = g_timeout_add(progressWatchIntervalMs, onProgressWatch, this);
    } else if (now != TimeControlStatus::Playing) {
        g_clear_handle_id(&progressWatch_, g_source_remove);
    }
    if (now == reported_) return;
    reported_ = now;
    queue_.post(timeControlObservers_.notifier());
}

// playbin can leave one of its outputs waiting for data that will not come, after a
// track switch: when the audio track was switched after the demuxer had already
// delivered the end of every track (a resume close to the end), or together with a
// switch to another embedded subtitle track, the last frame shows and the position
// stands at the duration, but that output never receives the end of its track, so the
// whole never ends and the page never hears "ended"; another subtitle track chosen at
// the start's seek can likewise leave the position standing still in the middle. The
// picture then stands still although GStreamer says it plays. A position that stands
// still too long while playing is delivered again from where it stands: every output
// then receives data, or the end of its track, from there, and GStreamer reports the
// end itself. Should that not help twice, the page hears "stalled", once, so that it
// can tell the user. A live stream is left alone.
gboolean GstPlayer::onProgressWatch(gpointer data) {
    auto* self = static_cast<GstPlayer*>(data);
    GstPlay* play = self->state_->play.get();
    if (!play || self->state_->live || self->standstills_ > maxRedeliveries) return G_SOURCE_CONTINUE;
    const GstClockTime position = gst_play_get_position(play);
    const gint64 now = g_get_monotonic_time();
    if (!GST_CLOCK_TIME_IS_VALID(position) || position != self->watchedPosition_) {
        self->watchedPosition_ = position;
        self->watchedSince_ = now;
        return G_SOURCE_CONTINUE;
    }
    const GstClockTime duration = gst_play_get_duration(play);
    const bool atEnd = GST_CLOCK_TIME_IS_VALID(duration) && position + endTolerance >= duration;
    if (now - self->watchedSince_ < (atEnd ? standstillAtEndUs : standstillUs)) return G_SOURCE_CONTINUE;
    self->watchedPosition_ = GST_CLOCK_TIME_NONE;
    if (self->standstills_++ < maxRedeliveries)
        self->deliverAgainFrom(position);
    else
        self->post(ItemNotification::PlaybackStalled);
    return G_SOURCE_CONTINUE;
}

void GstPlayer::onStateChanged(GstPlaySignalAdapter*, GstPlayState state, gpointer data) {
    auto* self = static_cast<GstPlayer*>(data);
    self->playState_ = state;
    if (state == GST_PLAY_STATE_PAUSED || state == GST_PLAY_STATE_PLAYING) self->markReady();
    if (state == GST_PLAY_STATE_PLAYING) {
        self->hasPlayed_ = true;
        self->state_->seeking = false;
        self->state_->applyPendingSelections();
    }
    self->updateTimeControlStatus();
}

// ---- the item's status and notifications ----

void GstPlayer::setStatus(ItemStatus status) {
    if (state_->status == status) return;
    state_->status = status;
    queue_.post(statusObservers_.notifier());
}

void GstPlayer::post(ItemNotification notification) {
    queue_.post([this, notification] {
        std::vector<std::uint64_t> ids;
        for (const auto& [id, observer] : itemObservers_)
            if (observer.notification == notification) ids.push_back(id);
        // Destroying the player takes this queued work with it, but an observer can
        // destroy the player while the others are still to be called.
        std::weak_ptr<void> alive = lifetime_;
        for (std::uint64_t id : ids) {
            if (alive.expired()) return;
            auto it = itemObservers_.find(id);
            if (it == itemObservers_.end()) continue;
            auto posted = it->second.posted;
            posted();
        }
    });
}

// An error before the media was ever opened fails the item (missing file, refused
// request, unknown format); after that it is a failure to play to the end, and the
// item stays ready. GstPlay stops itself on an error either way.
void GstPlayer::onError(GstPlaySignalAdapter*, GError*, GstStructure*, gpointer data) {
    auto* self = static_cast<GstPlayer*>(data);
    self->wantsToPlay_ = false;
    // No seek finishes after an error; a waiting choice is passed on as it is.
    self->state_->seeking = false;
    self->state_->seekTarget.reset();
    self->state_->applyPendingSelections(false);
    switch (self->state_->status) {
    case ItemStatus::Unknown:
        self->setStatus(ItemStatus::Failed);
        self->completeMediaSelectionLoads();
        break;
    case ItemStatus::ReadyToPlay:
        // One report per failure, however many elements complain about it.
        if (!std::exchange(self->failureReported_, true))
            self->post(ItemNotification::FailedToPlayToEnd);
        break;
    case ItemStatus::Failed:
        break;
    }
    self->updateTimeControlStatus();
}

// The player stays as it is at the end: the last frame shows, paused.
void GstPlayer::onEndOfStream(GstPlaySignalAdapter*, gpointer data) {
    auto* self = static_cast<GstPlayer*>(data);
    self->wantsToPlay_ = false;
    self->post(ItemNotification::PlayedToEnd);
    self->updateTimeControlStatus();
}

// Buffering also comes while the media is being opened; only a dip below 100 % once
// playback has begun is a stall, reported once per dip.
void GstPlayer::onBuffering(GstPlaySignalAdapter*, gint percent, gpointer data) {
    auto* self = static_cast<GstPlayer*>(data);
    if (percent >= 100) {
        self->stalled_ = false;
        return;
    }
    if (self->stalled_ || !self->hasPlayed_ || !self->wantsToPlay_) return;
    self->stalled_ = true;
    self->post(ItemNotification::PlaybackStalled);
}

// GstPlay publishes its first media information when the pipeline has prerolled, with
// every audio, video and subtitle stream listed; later updates refine tags and
// duration.
void GstPlayer::onMediaInfoUpdated(GstPlaySignalAdapter*, GstPlayMediaInfo* info, gpointer data) {
    auto* self = static_cast<GstPlayer*>(data);
    if (!info) return;
    self->state_->live = gst_play_media_info_is_live(info);
    self->markReady();
    if (self->state_->streamsKnown) return;
    self->state_->streamsKnown = true;
    self->state_->applyPendingSelections();
    self->completeMediaSelectionLoads();
}

// The pipeline has prerolled at the new position. A choice held back meanwhile goes
// now if nothing is to play; otherwise it waits until playback runs.
void GstPlayer::onSeekDone(GstPlaySignalAdapter*, guint64, gpointer data) {
    auto* self = static_cast<GstPlayer*>(data);
    self->state_->seeking = self->wantsToPlay_ && self->playState_ != GST_PLAY_STATE_PLAYING;
    self->state_->seekTarget.reset();
    self->state_->applyPendingSelections();
}

void GstPlayer::loadMediaSelectionOptions(std::function<void()> completion) {
    pendingLoads_.push_back(std::move(completion));
    if (state_->streamsKnown || state_->status == ItemStatus::Failed) completeMediaSelectionLoads();
}

void GstPlayer::completeMediaSelectionLoads() {
    for (auto& completion : std::exchange(pendingLoads_, {}))
        queue_.post(std::move(completion));
}

// ---- observers ----

Token GstPlayer::addItemObserver(ItemNotification notification, std::function<void()> posted) {
    std::uint64_t id = nextId_++;
    itemObservers_.emplace(id, ItemObserver{notification, std::move(posted)});
    return Token{id};
}

void GstPlayer::removeItemObserver(Token token) {
    itemObservers_.erase(token.id);
}

// Each observer has its own timer. It ticks only while playing, with the pipeline's
// position, so at least once per interval of playback.
Token GstPlayer::addPeriodicTimeObserver(std::chrono::milliseconds interval,
                                         std::function<void(double seconds)> tick) {
    std::uint64_t id = nextId_++;
    auto observer = std::make_unique<TimeObserver>(TimeObserver{this, 0, std::move(tick)});
    const guint ms = static_cast<guint>(std::max<std::chrono::milliseconds::rep>(interval.count(), 1));
    observer->source = g_timeout_add(ms, onTimeObserverTimer, observer.get());
    timeObservers_.emplace(id, std::move(observer));
    return Token{id};
}

void GstPlayer::removeTimeObserver(Token token) {
    auto it = timeObservers_.find(token.id);
    if (it == timeObservers_.end()) return;
    g_clear_handle_id(&it->second->source, g_source_remove);
    timeObservers_.erase(it);
}

gboolean GstPlayer::onTimeObserverTimer(gpointer data) {
    auto* observer = static_cast<TimeObserver*>(data);
    GstPlayer* self = observer->player;
    if (self->reported_ != TimeControlStatus::Playing || !self->state_->play) return G_SOURCE_CONTINUE;
    GstClockTime position = gst_play_get_position(self->state_->play.get());
    if (!GST_CLOCK_TIME_IS_VALID(position)) return G_SOURCE_CONTINUE;
    // A copy: the tick may remove this observer or destroy the player. Returning
    // CONTINUE from a source removed meanwhile is harmless.
    auto tick = observer->tick;
    tick(static_cast<double>(position) / GST_SECOND);
    return G_SOURCE_CONTINUE;
}

GstPlayer* asGstPlayer(Player& player) {
    return dynamic_cast<GstPlayer*>(&player);
}

}  // namespace

std::unique_ptr<Player> createGstPlayer(const std::string& url, std::chrono::seconds forwardBuffer,
                                        const std::string& subtitleUrl,
                                        const std::optional<HttpCookie>& cookie) {
    return std::make_unique<GstPlayer>(url, forwardBuffer, subtitleUrl, cookie);
}

GtkWidget* videoWidgetOf(Player& player) {
    GstPlayer* gstPlayer = asGstPlayer(player);
    return gstPlayer ? gstPlayer->videoWidget() : nullptr;
}

}  // namespace brindlemar::gtk
