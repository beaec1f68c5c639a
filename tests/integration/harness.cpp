#include "harness.hpp"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "platform/gtk/gst_player.hpp"

namespace brindlemar::test {

namespace fs = std::filesystem;

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    // Wakes the blocking iteration now and then, so the deadline is noticed.
    guint wake = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool held = done();
    while (!held && std::chrono::steady_clock::now() < end) {
        g_main_context_iteration(nullptr, TRUE);
        held = done();
    }
    g_source_remove(wake);
    return held;
}

namespace {

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

void runFfmpeg(const std::vector<std::string>& arguments, const fs::path& workingDirectory) {
    std::vector<const char*> argv{"ffmpeg", "-hide_banner", "-loglevel", "error", "-y"};
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    gint exitStatus = 0;
    g_autofree gchar* errors = nullptr;
    g_autoptr(GError) error = nullptr;
    gboolean spawned = g_spawn_sync(workingDirectory.c_str(), const_cast<gchar**>(argv.data()), nullptr,
                                    G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, &errors,
                                    &exitStatus, &error);
    if (!spawned || !g_spawn_check_wait_status(exitStatus, nullptr)) {
        std::fprintf(stderr, "ffmpeg failed: %s %s\n", error ? error->message : "", errors ? errors : "");
        std::abort();
    }
}

// A Matroska clip of `seconds` with two audio tracks (spa, eng) in `audioCodec` and
// the two SubRip files as subtitle tracks (spa, eng).
void makeTracksClip(const fs::path& root, const std::string& name, int seconds,
                    const std::string& audioCodec, const std::string& spanishSrt,
                    const std::string& englishSrt) {
    const std::string duration = ":duration=" + std::to_string(seconds);
    runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=320x180:rate=25" + duration,
               "-f", "lavfi", "-i", "sine=frequency=440" + duration,
               "-f", "lavfi", "-i", "sine=frequency=660" + duration,
               "-i", spanishSrt, "-i", englishSrt,
               "-map", "0:v", "-map", "1:a", "-map", "2:a", "-map", "3:s", "-map", "4:s",
               "-c:v", "libvpx", "-b:v", "200k", "-c:a", audioCodec, "-c:s", "srt",
               "-metadata:s:a:0", "language=spa", "-metadata:s:a:1", "language=eng",
               "-metadata:s:s:0", "language=spa", "-metadata:s:s:1", "language=eng",
               name},
              root);
}

Media makeMedia() {
    g_autoptr(GError) error = nullptr;
    g_autofree gchar* dir = g_dir_make_tmp("gst-player-tests-XXXXXX", &error);
    if (!dir) std::abort();
    const fs::path root(dir);
    writeFile(root / "es.srt", "1\n00:00:00,200 --> 00:00:04,500\nHola\n");
    writeFile(root / "en.srt", "1\n00:00:00,200 --> 00:00:04,500\nHello\n");
    makeTracksClip(root, "clip.mkv", 5, "libopus", "es.srt", "en.srt");
    runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=320x180:rate=25:duration=2",
               "-f", "lavfi", "-i", "sine=frequency=440:duration=2",
               "-c:v", "libvpx", "-b:v", "200k", "-c:a", "libopus", "plain.mkv"},
              root);
    // Cues all through, so that a subtitle track has something to show wherever
    // playback resumes.
    writeFile(root / "es6.srt",
              "1\n00:00:00,000 --> 00:00:02,900\nUno\n\n2\n00:00:03,000 --> 00:00:05,900\nDos\n");
    writeFile(root / "en6.srt",
              "1\n00:00:00,000 --> 00:00:02,900\nOne\n\n2\n00:00:03,000 --> 00:00:05,900\nTwo\n");
    makeTracksClip(root, "vorbis.mkv", 6, "libvorbis", "es6.srt", "en6.srt");
    writeFile(root / "not-media.mkv", "this is not a video\n");
    return Media{(root / "clip.mkv").string(), (root / "vorbis.mkv").string(),
                 (root / "plain.mkv").string(), (root / "not-media.mkv").string(),
                 (root / "missing.mkv").string(), root.string()};
}

}  // namespace

namespace {

std::optional<Media> made;

// Removes the media directory once all tests have run.
class MediaCleanup final : public ::testing::Environment {
public:
    void TearDown() override {
        if (!made) return;
        std::error_code ignored;
        fs::remove_all(made->directory, ignored);
        made.reset();
    }
};

[[maybe_unused]] ::testing::Environment* const mediaCleanup =
    ::testing::AddGlobalTestEnvironment(new MediaCleanup);

}  // namespace

const Media& media() {
    if (!made) made = makeMedia();
    return *made;
}

std::string fileUri(const std::string& path) {
    g_autofree gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    return uri;
}

// ---- a server that answers 404 ----

struct NotFoundServer::Impl {
    GSocketService* service = nullptr;
    guint16 port = 0;
    mutable std::mutex mutex;  // requests are answered on the service's threads
    std::vector<std::string> heads;
};

namespace {

gboolean answerNotFound(GThreadedSocketService*, GSocketConnection* connection, GObject*, gpointer data) {
    auto* impl = static_cast<NotFoundServer::Impl*>(data);
    GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
    GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(connection));
    // Read the request head before answering, so the client sees the answer and not a
    // reset connection.
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
        gssize got = g_input_stream_read(in, buffer, sizeof buffer, nullptr, nullptr);
        if (got <= 0) return TRUE;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    {
        std::lock_guard lock(impl->mutex);
        impl->heads.push_back(head.substr(0, head.find("\r\n\r\n")));
    }
    static const char answer[] =
        "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
        "Connection: close\r\n\r\nnot found";
    g_output_stream_write_all(out, answer, sizeof answer - 1, nullptr, nullptr, nullptr);
    g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
    return TRUE;
}

}  // namespace

NotFoundServer::NotFoundServer() : impl_(std::make_unique<Impl>()) {
    // The port the application's own service uses is left alone.
    constexpr guint16 reserved = 47874;
    while (!impl_->port) {
        impl_->service = g_threaded_socket_service_new(2);
        g_autoptr(GInetAddress) loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
        g_autoptr(GSocketAddress) any = g_inet_socket_address_new(loopback, 0);
        GSocketAddress* bound = nullptr;
        if (!g_socket_listener_add_address(G_SOCKET_LISTENER(impl_->service), any, G_SOCKET_TYPE_STREAM,
                                           G_SOCKET_PROTOCOL_TCP, nullptr, &bound, nullptr))
            std::abort();
        guint16 port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
        g_object_unref(bound);
        if (port == reserved) {
            g_clear_object(&impl_->service);
            continue;
        }
        impl_->port = port;
    }
    g_signal_connect(impl_->service, "run", G_CALLBACK(answerNotFound), impl_.get());
    g_socket_service_start(impl_->service);
}

NotFoundServer::~NotFoundServer() {
    g_socket_service_stop(impl_->service);
    g_socket_listener_close(G_SOCKET_LISTENER(impl_->service));
    g_clear_object(&impl_->service);
}

std::string NotFoundServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + path;
}

std::vector<std::string> NotFoundServer::requestHeads() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->heads;
}

// ---- recording a player ----

PlayerEvents::PlayerEvents(Player& p) : player(p) {
    statusObservation = player.observeStatus([this] { status.push_back(player.currentItem()->status()); });
    timeControlObservation =
        player.observeTimeControlStatus([this] { timeControl.push_back(player.timeControlStatus()); });
    player.addItemObserver(ItemNotification::PlayedToEnd, [this] { ++playedToEnd; });
    player.addItemObserver(ItemNotification::FailedToPlayToEnd, [this] { ++failedToPlayToEnd; });
    player.addItemObserver(ItemNotification::PlaybackStalled, [this] { ++stalled; });
    player.addPeriodicTimeObserver(250ms, [this](double seconds) { ticks.push_back(seconds); });
}

// ---- a window for the video ----

VideoWindow::VideoWindow() : window_(gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
    gtk_window_set_default_size(GTK_WINDOW(window_), 320, 180);
}

VideoWindow::~VideoWindow() {
    gtk_widget_destroy(window_);
}

void VideoWindow::show(Player& player) {
    clear();
    GtkWidget* video = gtk::videoWidgetOf(player);
    ASSERT_NE(video, nullptr);
    gtk_container_add(GTK_CONTAINER(window_), video);
    gtk_widget_show_all(window_);
}

void VideoWindow::clear() {
    if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(window_)))
        gtk_container_remove(GTK_CONTAINER(window_), child);
}

int openFdCount() {
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

int threadCount() {
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

}  // namespace brindlemar::test
