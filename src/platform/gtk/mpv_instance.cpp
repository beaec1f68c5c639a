#include "platform/gtk/mpv_instance.hpp"

#include <glib.h>
#include <mpv/render.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>

namespace brindlemar::gtk {

namespace {

// Until a view says how big the picture is, frames are still rendered (mpv's video
// output waits for each one to be taken), small.
constexpr int defaultWidth = 64;
constexpr int defaultHeight = 36;
constexpr std::size_t rowAlignment = 64;

std::mutex releaseMutex;
std::condition_variable releaseDone;
int releasesUnderWay = 0;

void runOnMainLoop(std::function<void()> work) {
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace

struct MpvInstance::Shared : std::enable_shared_from_this<MpvInstance::Shared> {
    MpvSettings settings;

    // Main loop only. Cleared when the owner goes, so that nothing queued reaches it.
    Callbacks callbacks;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void(mpv_handle*)>> jobs;
    bool releasing = false;
    bool pictureDue = true;  // mpv has a picture to render, or the size changed
    int width = defaultWidth;
    int height = defaultHeight;

    // Events taken off mpv's queue, not yet handed to the main loop.
    std::mutex eventsMutex;
    std::vector<MpvEvent> events;
    bool eventsPosted = false;
    bool stopEvents = false;     // under eventsMutex
    bool eventsWaiting = false;  // under eventsMutex: mpv has queued events
    std::condition_variable eventsWake;
    std::thread eventThread;
    std::atomic<bool> framePosted{false};
    std::shared_ptr<VideoFrame> frame = std::make_shared<VideoFrame>();

    // Thread only.
    mpv_handle* handle = nullptr;    // events, hooks and the picture
    mpv_handle* commands = nullptr;  // the main loop's requests, and their replies
    mpv_render_context* renderer = nullptr;
    PixelBuffer back;

    void threadMain();
    void start();
    void createSoftwareRenderer();
    void setListOption(const std::string& name, const std::vector<std::string>& values);
    void render(int w, int h);
    void release();

    void readEvents();
    void readEventsOf(mpv_handle* client, bool repliesOnly, std::vector<MpvEvent>& into);
    void handOver(std::vector<MpvEvent> batch);

    // From mpv's threads, where no mpv call may be made.
    static void onWakeup(void* data) {
        auto* self = static_cast<Shared*>(data);
        {
            std::lock_guard lock(self->eventsMutex);
            self->eventsWaiting = true;
        }
        self->eventsWake.notify_one();
    }

    static void onRenderUpdate(void* data) {
        auto* self = static_cast<Shared*>(data);
        {
            std::lock_guard lock(self->mutex);
            self->pictureDue = true;
        }
        self->wake.notify_one();
    }
};

void MpvInstance::Shared::start() {
    handle = mpv_create();
    if (handle) {
        for (const auto& [name, value] : settings.options) mpv_set_option_string(handle, name.c_str(), value.c_str());
        for (const auto& [name, values] : settings.listOptions) setListOption(name, values);
        for (const auto& observed : settings.observed)
            mpv_observe_property(handle, observed.id, observed.name.c_str(), observed.format);
        for (const auto& [id, name] : settings.hooks) mpv_hook_add(handle, id, name.c_str(), 0);
        if (!settings.logLevel.empty()) mpv_request_log_messages(handle, settings.logLevel.c_str());
        if (mpv_initialize(handle) < 0) {
            mpv_terminate_destroy(handle);
            handle = nullptr;
        }
    }
    // The main loop's requests go through a client of their own: mpv_wait_event() on
    // the client that observes properties holds that client's lock while it gathers
    // their changes, and a request made on the same client waits for that lock.
    if (handle) {
        commands = mpv_create_client(handle, "commands");
        if (!commands) commands = handle;
        mpv_set_wakeup_callback(handle, &Shared::onWakeup, this);
        if (commands != handle) mpv_set_wakeup_callback(commands, &Shared::onWakeup, this);
    }
    if (settings.softwareVideo) createSoftwareRenderer();
    runOnMainLoop([self = shared_from_this(), started = commands] {
        if (self->callbacks.started) self->callbacks.started(started);
    });
    // After the announcement: the main loop hears of the instance before its events.
    // Events queued before the callbacks were set are read at once.
    eventsWaiting = true;
    if (handle) eventThread = std::thread([this] { readEvents(); });
}

namespace {

// A property's value as the player reads it.
void copyValue(MpvEvent& copy, const mpv_event_property& property) {
    if (!property.data) return;
    switch (property.format) {
    case MPV_FORMAT_FLAG:
        copy.flag = *static_cast<int*>(property.data) != 0;
        break;
    case MPV_FORMAT_DOUBLE:
        copy.number = *static_cast<double*>(property.data);
        break;
    case MPV_FORMAT_NODE:
        if (property.name && std::strcmp(property.name, "chapter-list") == 0)
            copy.chapters = parseChapterList(*static_cast<mpv_node*>(property.data));
        else
            copy.tracks = parseTrackList(*static_cast<mpv_node*>(property.data));
        break;
    case MPV_FORMAT_STRING:
        if (const char* text = *static_cast<char**>(property.data)) copy.text = text;
        break;
    default:
        break;
    }
}

}  // namespace

// Takes the events of both clients off mpv's queues whenever mpv says there are some,
// until the release stops it; mpv_wait_event() can wait on the player's core for a
// while even when asked not to, so the main loop never calls it.
void MpvInstance::Shared::readEvents() {
    for (;;) {
        {
            std::unique_lock lock(eventsMutex);
            eventsWake.wait(lock, [this] { return eventsWaiting || stopEvents; });
            if (stopEvents) return;
            eventsWaiting = false;
        }
        std::vector<MpvEvent> batch;
        readEventsOf(handle, false, batch);
        // Every client hears of the media's events; the other one is read for its
        // replies only.
        if (commands != handle) readEventsOf(commands, true, batch);
        if (!batch.empty()) handOver(std::move(batch));
    }
}

void MpvInstance::Shared::readEventsOf(mpv_handle* client, bool repliesOnly, std::vector<MpvEvent>& into) {
    for (;;) {
        mpv_event* event = mpv_wait_event(client, 0);
        if (event->event_id == MPV_EVENT_NONE || event->event_id == MPV_EVENT_SHUTDOWN) return;
        if (repliesOnly && event->event_id != MPV_EVENT_GET_PROPERTY_REPLY) continue;
        MpvEvent copy;
        copy.id = event->event_id;
        copy.error = event->error;
        copy.replyId = event->reply_userdata;
        switch (event->event_id) {
        case MPV_EVENT_PROPERTY_CHANGE:
        case MPV_EVENT_GET_PROPERTY_REPLY:
            if (event->data) copyValue(copy, *static_cast<mpv_event_property*>(event->data));
            break;
        case MPV_EVENT_LOG_MESSAGE: {
            const auto* message = static_cast<mpv_event_log_message*>(event->data);
            copy.text = std::string(message->prefix ? message->prefix : "") + ": " +
                        (message->text ? message->text : "");
            break;
        }
        case MPV_EVENT_HOOK:
            copy.hookId = static_cast<mpv_event_hook*>(event->data)->id;
            break;
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<mpv_event_end_file*>(event->data);
            copy.endReason = end->reason;
            copy.endError = end->error;
            break;
        }
        case MPV_EVENT_COMMAND_REPLY:
        case MPV_EVENT_SET_PROPERTY_REPLY:
            continue;  // nothing waits for these
        default:
            break;
        }
        into.push_back(std::move(copy));
    }
}

void MpvInstance::Shared::handOver(std::vector<MpvEvent> batch) {
    {
        std::lock_guard lock(eventsMutex);
        events.insert(events.end(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
        if (std::exchange(eventsPosted, true)) return;
    }
    runOnMainLoop([self = shared_from_this()] {
        std::vector<MpvEvent> taken;
        {
            std::lock_guard lock(self->eventsMutex);
            taken.swap(self->events);
            self->eventsPosted = false;
        }
        if (self->callbacks.events) self->callbacks.events(std::move(taken));
    });
}

void MpvInstance::Shared::setListOption(const std::string& name, const std::vector<std::string>& values) {
    std::vector<mpv_node> items(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        items[i].format = MPV_FORMAT_STRING;
        items[i].u.string = const_cast<char*>(values[i].c_str());
    }
    mpv_node_list list{static_cast<int>(items.size()), items.data(), nullptr};
    mpv_node node;
    node.format = MPV_FORMAT_NODE_ARRAY;
    node.u.list = &list;
    mpv_set_option(handle, name.c_str(), MPV_FORMAT_NODE, &node);
}

void MpvInstance::Shared::createSoftwareRenderer() {
    if (!handle || renderer) return;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&renderer, handle, params) >= 0)
        mpv_render_context_set_update_callback(renderer, &Shared::onRenderUpdate, this);
    else
        renderer = nullptr;
}

void MpvInstance::Shared::render(int w, int h) {
    if (back.width != w || back.height != h || !back.pixels) {
        const int stride = static_cast<int>((static_cast<std::size_t>(w) * 4 + rowAlignment - 1) /
                                            rowAlignment * rowAlignment);
        back.pixels.reset(static_cast<unsigned char*>(
                              std::aligned_alloc(rowAlignment, static_cast<std::size_t>(stride) * h)),
                          std::free);
        back.width = w;
        back.height = h;
        back.stride = stride;
        if (!back.pixels) return;
    }
    int size[2] = {w, h};
    std::size_t stride = static_cast<std::size_t>(back.stride);
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SW_SIZE, size},
        {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>("bgr0")},
        {MPV_RENDER_PARAM_SW_STRIDE, &stride},
        {MPV_RENDER_PARAM_SW_POINTER, back.pixels.get()},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_render(renderer, params) < 0) return;
    {
        std::lock_guard lock(frame->mutex);
        std::swap(frame->current, back);
    }
    if (!framePosted.exchange(true)) {
        runOnMainLoop([self = shared_from_this()] {
            self->framePosted = false;
            if (self->callbacks.newFrame) self->callbacks.newFrame();
        });
    }
}

void MpvInstance::Shared::release() {
    if (eventThread.joinable()) {
        {
            std::lock_guard lock(eventsMutex);
            stopEvents = true;
        }
        eventsWake.notify_one();
        eventThread.join();
    }
    if (commands && commands != handle) mpv_destroy(commands);
    commands = nullptr;
    if (renderer) mpv_render_context_free(renderer);
    renderer = nullptr;
    if (handle) mpv_terminate_destroy(handle);
    handle = nullptr;
#if defined(__GLIBC__)
    // Decoding a video frees a lot, and glibc keeps what was freed: without handing it
    // back, each play/stop of a large video left the shell some 0.7 MiB bigger.
    malloc_trim(0);
#endif
}

void MpvInstance::Shared::threadMain() {
    start();
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return !jobs.empty() || releasing || (renderer && pictureDue); });
        if (!jobs.empty()) {
            auto job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            job(handle);
            lock.lock();
            continue;
        }
        if (releasing) break;
        pictureDue = false;
        const int w = width, h = height;
        lock.unlock();
        // Renders whether or not mpv has a new picture: a new size wants one too.
        mpv_render_context_update(renderer);
        render(w, h);
        lock.lock();
    }
    lock.unlock();
    release();
    std::lock_guard done(releaseMutex);
    --releasesUnderWay;
    releaseDone.notify_all();
}

MpvInstance::MpvInstance(MpvSettings settings, Callbacks callbacks) : shared_(std::make_shared<Shared>()) {
    shared_->settings = std::move(settings);
    shared_->callbacks = std::move(callbacks);
    {
        std::lock_guard lock(releaseMutex);
        ++releasesUnderWay;
    }
    // The thread keeps what it shares until the release is over; it is not joined, so
    // that no one waits for it.
    std::thread([shared = shared_] { shared->threadMain(); }).detach();
}

MpvInstance::~MpvInstance() {
    shared_->callbacks = {};
    {
        std::lock_guard lock(shared_->mutex);
        shared_->releasing = true;
    }
    shared_->wake.notify_one();
}

void MpvInstance::run(std::function<void(mpv_handle*)> job) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back(std::move(job));
    }
    shared_->wake.notify_one();
}

void MpvInstance::renderInSoftware() {
    run([shared = shared_](mpv_handle*) { shared->createSoftwareRenderer(); });
}

void MpvInstance::setVideoSize(int width, int height) {
    width = std::clamp(width, 2, 8192);
    height = std::clamp(height, 2, 8192);
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->width == width && shared_->height == height) return;
        shared_->width = width;
        shared_->height = height;
        shared_->pictureDue = true;
    }
    shared_->wake.notify_one();
}

std::shared_ptr<VideoFrame> MpvInstance::frame() const {
    return shared_->frame;
}

bool MpvInstance::releasesPending() {
    std::lock_guard lock(releaseMutex);
    return releasesUnderWay > 0;
}

void MpvInstance::waitForReleases() {
    std::unique_lock lock(releaseMutex);
    releaseDone.wait_for(lock, std::chrono::seconds(5), [] { return releasesUnderWay == 0; });
}

}  // namespace brindlemar::gtk
