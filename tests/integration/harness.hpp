// What the player tests share: the main loop spun against a deadline, media made at
// test time, a local HTTP server that can hold a file back, a recorder of a player's
// callbacks, and a watch on the main loop's responsiveness.
#pragma once

#include <glib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace brindlemar::test {

using namespace std::chrono_literals;

// Turns the default main context until `done` holds or `deadline` has passed; whether
// it holds. The deadlines are generous: they only bound a hang.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = 30s);

// Turns the default main context for `duration`: room for a callback that must not come.
void spinFor(std::chrono::milliseconds duration);

// Runs `work` on a later turn of the default main context.
void postToMainLoop(std::function<void()> work);

// Media made on first use in a temporary directory, removed when the tests end.
struct Media {
    std::string clip;         // 5 s 320x180 Matroska: audio "spa", "eng"; subtitles "spa", "eng"
    std::string vorbisClip;   // 6 s, the same tracks, in VP8, Vorbis and SubRip; chapters
                              // "Intro" (0 s) and "Resto" (3 s)
    std::string plainClip;    // 2 s, one untagged audio track, no subtitles
    std::string sideSubtitles;  // a SubRip file with cues all through the clips
    std::string notMedia;     // a text file with a video file's name
    std::string missing;      // a path that does not exist
    std::string directory;
};
const Media& media();

std::string fileUri(const std::string& path);

// A local HTTP/1.1 server on 127.0.0.1 and a free port, answering on threads of its
// own. It serves the files it is given (byte ranges included) and answers 404 to
// anything else. It can hold a file back: the first answer for that file that reaches
// a given byte stops sending there until release() (or its destructor, or a bound of
// 30 s), then goes on.
class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Serves the file at `file` under `path` ("/clip.mkv").
    void serve(const std::string& path, const std::string& file);
    std::string url(const std::string& path) const;
    // "http://127.0.0.1:<port>"
    std::string origin() const;
    // The head (request line and headers) of every request so far, in order.
    std::vector<std::string> requestHeads() const;

    // Arms the hold: the next answer for `path` that would send byte `offset` of the
    // file sends the bytes before it and then waits.
    void holdAt(const std::string& path, std::uint64_t offset);
    // Whether an answer is waiting at the hold now.
    bool holding() const;
    // Lets a waiting answer go on (and disarms a hold not reached yet).
    void release();

    struct Impl;  // shared with the threads that answer

private:
    std::unique_ptr<Impl> impl_;
};

// Records every callback of a player; it must not outlive the player's observations
// (they are dropped with it).
struct PlayerEvents {
    explicit PlayerEvents(Player& player);

    Player& player;
    std::vector<TimeControlStatus> timeControl;  // the value read at each callback
    std::vector<ItemStatus> status;
    int playedToEnd = 0;
    int failedToPlayToEnd = 0;
    int stalled = 0;
    std::vector<double> ticks;

    std::unique_ptr<Observation> statusObservation;
    std::unique_ptr<Observation> timeControlObservation;
};

// Watches the default main context through a 10 ms timeout, from construction on.
// Between two runs of the timeout, the time the context spent outside its wait for
// events (in the poll) is time it was held up: by a call that waits, or by work done
// on it. The wait itself, and the machine being slow to wake the thread from it,
// are not. Create, read and destroy it on the main thread.
class MainLoopHeartbeat {
public:
    MainLoopHeartbeat();
    ~MainLoopHeartbeat();
    MainLoopHeartbeat(const MainLoopHeartbeat&) = delete;
    MainLoopHeartbeat& operator=(const MainLoopHeartbeat&) = delete;

    // The longest time the main loop was held up between two runs: outside its wait
    // for events, and not counting time the thread stood ready to run while the CPU
    // was busy with other processes (a loaded machine is not a stalled main loop).
    std::chrono::milliseconds longestHeldUp() const;
    // That time, when it began (from construction), the whole gap around it, and how
    // the main thread spent it: CPU time, waits, and times the CPU was taken away.
    std::string longestHeldUpDetails() const;

private:
    struct Sample {
        std::chrono::steady_clock::time_point at;
        std::chrono::steady_clock::duration polled{};  // in the poll, in all
        std::chrono::microseconds cpu{};
        long waits = 0;
        long preemptions = 0;
        std::chrono::nanoseconds runQueue{};  // ready to run, waiting for a CPU, in all
    };
    Sample sample() const;
    static gboolean beat(gpointer self);
    static gint poll(GPollFD* fds, guint count, gint timeout);

    GPollFunc previousPoll_ = nullptr;
    guint source_ = 0;
    Sample start_;
    Sample last_;
    std::chrono::steady_clock::duration longest_{};
    Sample longestFrom_;
    Sample longestTo_;
};

// Entries of /proc/self/fd and /proc/self/task.
int openFdCount();
int threadCount();

}  // namespace brindlemar::test
