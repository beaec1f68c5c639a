// One mpv instance and the thread of its own that makes every call that can wait on
// the player: starting it, continuing a hook, the software picture, and the release.
// The main loop only ever makes mpv's asynchronous calls.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <optional>
#include <utility>
#include <vector>

#include "platform/gtk/mpv_tracks.hpp"

namespace brindlemar::gtk {

// The latest picture of the software renderer: 32-bit pixels in cairo's RGB24 layout
// (blue, green, red, unused, in memory order), `stride` bytes a row. The renderer
// thread writes into a buffer of its own and swaps it in under the lock.
struct PixelBuffer {
    std::shared_ptr<unsigned char> pixels;  // 64-byte aligned; empty before the first picture
    int width = 0;
    int height = 0;
    int stride = 0;
};

struct VideoFrame {
    std::mutex mutex;
    PixelBuffer current;
};

// An event of mpv's, copied whole off mpv's queue: nothing in it points into mpv.
struct MpvEvent {
    mpv_event_id id = MPV_EVENT_NONE;
    int error = 0;
    std::uint64_t replyId = 0;
    // A property's new value (property changes, replies to reads); nothing when it has
    // none or another format.
    std::optional<bool> flag;
    std::optional<double> number;
    std::optional<std::vector<MpvTrack>> tracks;  // a "track-list" read as tracks
    std::optional<std::vector<Chapter>> chapters;  // a "chapter-list" read as chapters
    std::optional<std::string> text;  // a string value, or a log message's "prefix: text"
    std::uint64_t hookId = 0;
    mpv_end_file_reason endReason = MPV_END_FILE_REASON_EOF;
    int endError = 0;
};

struct MpvSettings {
    // Options set before the instance starts, in order.
    std::vector<std::pair<std::string, std::string>> options;
    // List options, each item given whole (URLs may hold the list separators).
    std::vector<std::pair<std::string, std::vector<std::string>>> listOptions;
    // Properties observed from the start: (reply id, name, format).
    struct Observed {
        std::uint64_t id;
        std::string name;
        mpv_format format;
    };
    std::vector<Observed> observed;
    // Hooks registered from the start: (reply id, name).
    std::vector<std::pair<std::uint64_t, std::string>> hooks;
    // mpv's own messages of this level and above come as MPV_EVENT_LOG_MESSAGE; none
    // when empty.
    std::string logLevel;
    // Whether the thread renders the picture in memory (the software renderer).
    bool softwareVideo = true;
};

class MpvInstance {
public:
    struct Callbacks {
        // Once, on the main loop: the started instance, or nullptr when mpv could not start.
        std::function<void(mpv_handle*)> started;
        // On the main loop, mpv's events in the order mpv gave them. They are taken off
        // mpv's queue on a thread of the instance's: doing so can wait on the player.
        std::function<void(std::vector<MpvEvent>)> events;
        // On the main loop, after a new software picture was put in the frame.
        std::function<void()> newFrame;
    };

    MpvInstance(MpvSettings settings, Callbacks callbacks);
    // Lets go of every callback and hands the instance to its thread for release.
    ~MpvInstance();
    MpvInstance(const MpvInstance&) = delete;
    MpvInstance& operator=(const MpvInstance&) = delete;

    // Runs `job` on the instance's thread, after the jobs before it; never after the
    // release. The handle is nullptr when mpv could not start.
    void run(std::function<void(mpv_handle*)> job);

    // Renders the picture in memory from now on (when no OpenGL context could be had).
    void renderInSoftware();

    // The size in pixels the software picture is rendered at.
    void setVideoSize(int width, int height);
    std::shared_ptr<VideoFrame> frame() const;

    // Work of a release still under way, counted over all instances.
    static bool releasesPending();
    static void waitForReleases();

    struct Shared;  // between the main loop, the thread and mpv's callbacks

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace brindlemar::gtk
