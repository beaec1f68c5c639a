// What the player tests share: the main loop spun against a deadline, media made at
// test time, a server that answers 404, and a recorder of a player's callbacks.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace brindlemar::test {

using namespace std::chrono_literals;

// Turns the default main context until `done` holds or `deadline` has passed; whether
// it holds. The deadlines are generous: they only bound a hang.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = 30s);

// Media made on first use in a temporary directory, removed when the tests end.
struct Media {
    std::string clip;       // 5 s 320x180 Matroska: audio "spa", "eng"; subtitles "spa", "eng"
    std::string vorbisClip; // 6 s, the same tracks, in VP8, Vorbis and SubRip
    std::string plainClip;  // 2 s, one untagged audio track, no subtitles
    std::string notMedia;   // a text file with a video file's name
    std::string missing;    // a path that does not exist
    std::string directory;
};
const Media& media();

std::string fileUri(const std::string& path);

// A local HTTP server on a free port that answers every request with 404.
class NotFoundServer {
public:
    NotFoundServer();
    ~NotFoundServer();
    std::string url(const std::string& path) const;
    // The head (request line and headers) of every request so far, in order.
    std::vector<std::string> requestHeads() const;

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

// A window that shows a player's video widget, as the application's overlay does.
class VideoWindow {
public:
    VideoWindow();
    ~VideoWindow();
    void show(Player& player);
    void clear();

private:
    GtkWidget* window_;
};

// Entries of /proc/self/fd and /proc/self/task.
int openFdCount();
int threadCount();

}  // namespace brindlemar::test
