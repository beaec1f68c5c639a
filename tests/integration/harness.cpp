#include "harness.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

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

void spinFor(std::chrono::milliseconds duration) {
    spinUntil([] { return false; }, duration);
}

void postToMainLoop(std::function<void()> work) {
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

// ---- media ----

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
// the two SubRip files as subtitle tracks (spa, eng); with the chapters of an FFmpeg
// metadata file when one is given.
void makeTracksClip(const fs::path& root, const std::string& name, int seconds,
                    const std::string& audioCodec, const std::string& spanishSrt,
                    const std::string& englishSrt, const std::string& chapters = "") {
    const std::string duration = ":duration=" + std::to_string(seconds);
    std::vector<std::string> arguments{"-f", "lavfi", "-i", "testsrc=size=320x180:rate=25" + duration,
                                       "-f", "lavfi", "-i", "sine=frequency=440" + duration,
                                       "-f", "lavfi", "-i", "sine=frequency=660" + duration,
                                       "-i", spanishSrt, "-i", englishSrt};
    if (!chapters.empty()) arguments.insert(arguments.end(), {"-i", chapters, "-map_chapters", "5"});
    arguments.insert(arguments.end(),
                     {"-map", "0:v", "-map", "1:a", "-map", "2:a", "-map", "3:s", "-map", "4:s",
                      "-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "8", "-b:v", "200k", "-c:a", audioCodec,
                      "-c:s", "srt", "-metadata:s:a:0", "language=spa", "-metadata:s:a:1", "language=eng",
                      "-metadata:s:s:0", "language=spa", "-metadata:s:s:1", "language=eng", name});
    runFfmpeg(arguments, root);
}

Media makeMedia() {
    g_autoptr(GError) error = nullptr;
    g_autofree gchar* dir = g_dir_make_tmp("mpv-player-tests-XXXXXX", &error);
    if (!dir) std::abort();
    const fs::path root(dir);
    writeFile(root / "es.srt", "1\n00:00:00,200 --> 00:00:04,500\nHola\n");
    writeFile(root / "en.srt", "1\n00:00:00,200 --> 00:00:04,500\nHello\n");
    makeTracksClip(root, "clip.mkv", 5, "libopus", "es.srt", "en.srt");
    runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=320x180:rate=25:duration=2",
               "-f", "lavfi", "-i", "sine=frequency=440:duration=2",
               "-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "8", "-b:v", "200k", "-c:a", "libopus", "plain.mkv"},
              root);
    // Cues all through, so that a subtitle track has something to show wherever
    // playback resumes.
    writeFile(root / "es6.srt",
              "1\n00:00:00,000 --> 00:00:02,900\nUno\n\n2\n00:00:03,000 --> 00:00:05,900\nDos\n");
    writeFile(root / "en6.srt",
              "1\n00:00:00,000 --> 00:00:02,900\nOne\n\n2\n00:00:03,000 --> 00:00:05,900\nTwo\n");
    writeFile(root / "chapters.txt",
              ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=3000\ntitle=Intro\n"
              "[CHAPTER]\nTIMEBASE=1/1000\nSTART=3000\nEND=6000\ntitle=Resto\n");
    makeTracksClip(root, "vorbis.mkv", 6, "libvorbis", "es6.srt", "en6.srt", "chapters.txt");
    writeFile(root / "beside.srt",
              "1\n00:00:00,000 --> 00:00:02,500\nHola desde el archivo de subtítulos\n\n"
              "2\n00:00:02,500 --> 00:00:06,000\nY esta es la segunda línea del archivo\n");
    writeFile(root / "not-media.mkv", "this is not a video\n");
    return Media{(root / "clip.mkv").string(),   (root / "vorbis.mkv").string(),
                 (root / "plain.mkv").string(),  (root / "beside.srt").string(),
                 (root / "not-media.mkv").string(), (root / "missing.mkv").string(),
                 root.string()};
}

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

// ---- the HTTP server ----

struct HttpServer::Impl {
    int listener = -1;
    int wake[2] = {-1, -1};  // written to once, to end the accepting thread
    std::uint16_t port = 0;
    std::thread acceptor;

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::map<std::string, std::string> files;
    std::vector<std::string> heads;
    std::vector<std::thread> connections;
    std::set<int> openSockets;

    std::optional<std::pair<std::string, std::uint64_t>> hold;  // armed, not reached yet
    bool holdReached = false;
    bool holdReleased = false;

    void acceptLoop();
    void answer(int socket);
    bool sendAll(int socket, const char* data, std::size_t size);
    bool sendFile(int socket, const std::string& path, const std::string& bytes, std::uint64_t from,
                  std::uint64_t to);
};

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The value of header `name` in a request head, if present.
std::optional<std::string> headerOf(const std::string& head, const std::string& name) {
    std::istringstream lines(head);
    std::string line;
    const std::string wanted = lowerCase(name) + ":";
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lowerCase(line.substr(0, wanted.size())) == wanted) {
            std::string value = line.substr(wanted.size());
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace

bool HttpServer::Impl::sendAll(int socket, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Sends bytes [from, to) of the file, stopping at an armed hold on the way.
bool HttpServer::Impl::sendFile(int socket, const std::string& path, const std::string& bytes,
                                std::uint64_t from, std::uint64_t to) {
    std::uint64_t position = from;
    while (position < to) {
        std::uint64_t end = std::min<std::uint64_t>(to, position + 16 * 1024);
        bool waitHere = false;
        {
            std::lock_guard lock(mutex);
            if (hold && hold->first == path && position <= hold->second && hold->second < end) {
                end = hold->second;
                waitHere = end == position;
            }
        }
        if (waitHere) {
            std::unique_lock lock(mutex);
            hold.reset();
            holdReached = true;
            changed.wait_for(lock, 30s, [&] { return holdReleased || stopping; });
            holdReached = false;
            if (stopping) return false;
            continue;
        }
        if (!sendAll(socket, bytes.data() + position, end - position)) return false;
        position = end;
    }
    return true;
}

void HttpServer::Impl::answer(int socket) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    head.resize(head.find("\r\n\r\n"));
    std::optional<std::string> bytes;
    std::string path;
    {
        std::lock_guard lock(mutex);
        heads.push_back(head);
        std::istringstream requestLine(head.substr(0, head.find("\r\n")));
        std::string method;
        requestLine >> method >> path;
        if (auto found = files.find(path); found != files.end()) {
            std::ifstream in(found->second, std::ios::binary);
            bytes = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    const bool headOnly = head.rfind("HEAD ", 0) == 0;
    if (!bytes) {
        static const char notFound[] =
            "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
            "Connection: close\r\n\r\nnot found";
        sendAll(socket, notFound, sizeof notFound - 1);
        return;
    }
    const std::uint64_t size = bytes->size();
    std::uint64_t from = 0;
    std::uint64_t to = size;  // exclusive
    std::string status = "200 OK";
    bool partial = false;
    if (auto range = headerOf(head, "Range"); range && range->rfind("bytes=", 0) == 0) {
        const std::string bytes = range->substr(6);
        const auto dash = bytes.find('-');
        if (dash != std::string::npos && dash > 0) {
            from = std::strtoull(bytes.substr(0, dash).c_str(), nullptr, 10);
            if (dash + 1 < bytes.size())
                to = std::min<std::uint64_t>(size, std::strtoull(bytes.substr(dash + 1).c_str(), nullptr, 10) + 1);
        }
        if (from >= size) {
            const std::string unsatisfiable = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                                              std::to_string(size) +
                                              "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            sendAll(socket, unsatisfiable.data(), unsatisfiable.size());
            return;
        }
        status = "206 Partial Content";
        partial = true;
    }
    const bool subtitles = path.size() > 4 && path.compare(path.size() - 4, 4, ".srt") == 0;
    std::string answerHead = "HTTP/1.1 " + status + "\r\nContent-Type: " +
                             (subtitles ? "application/x-subrip" : "video/x-matroska") +
                             "\r\nAccept-Ranges: bytes\r\n";
    if (partial)
        answerHead += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(to - 1) + "/" +
                      std::to_string(size) + "\r\n";
    answerHead += "Content-Length: " + std::to_string(to - from) + "\r\nConnection: close\r\n\r\n";
    if (!sendAll(socket, answerHead.data(), answerHead.size()) || headOnly) return;
    sendFile(socket, path, *bytes, from, to);
}

void HttpServer::Impl::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        int socket = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) continue;
        std::lock_guard lock(mutex);
        if (stopping) {
            ::close(socket);
            return;
        }
        openSockets.insert(socket);
        connections.emplace_back([this, socket] {
            answer(socket);
            std::lock_guard lock(mutex);
            openSockets.erase(socket);
            ::close(socket);
        });
    }
}

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {
    // The port the application's own service uses is left alone.
    constexpr std::uint16_t reserved = 47874;
    while (!impl_->port) {
        int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 64) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        if (ntohs(address.sin_port) == reserved) {
            ::close(listener);
            continue;
        }
        impl_->listener = listener;
        impl_->port = ntohs(address.sin_port);
    }
    if (::pipe2(impl_->wake, O_CLOEXEC) != 0) std::abort();
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
}

HttpServer::~HttpServer() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        for (int socket : impl_->openSockets) ::shutdown(socket, SHUT_RDWR);
    }
    impl_->changed.notify_all();
    const char stop = 's';
    [[maybe_unused]] auto written = ::write(impl_->wake[1], &stop, 1);
    impl_->acceptor.join();
    // No connection is added once the acceptor has ended.
    for (auto& connection : impl_->connections) connection.join();
    ::close(impl_->listener);
    ::close(impl_->wake[0]);
    ::close(impl_->wake[1]);
}

void HttpServer::serve(const std::string& path, const std::string& file) {
    std::lock_guard lock(impl_->mutex);
    impl_->files[path] = file;
}

std::string HttpServer::origin() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

std::string HttpServer::url(const std::string& path) const {
    return origin() + path;
}

std::vector<std::string> HttpServer::requestHeads() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->heads;
}

void HttpServer::holdAt(const std::string& path, std::uint64_t offset) {
    std::lock_guard lock(impl_->mutex);
    impl_->hold = std::make_pair(path, offset);
    impl_->holdReleased = false;
}

bool HttpServer::holding() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->holdReached;
}

void HttpServer::release() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->hold.reset();
        impl_->holdReleased = true;
    }
    impl_->changed.notify_all();
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

// ---- the main loop's heartbeat ----

namespace {

// Time the default main context has spent in its poll; main thread only.
std::chrono::steady_clock::duration polledInAll{};
GPollFunc pollBeneath = nullptr;

}  // namespace

gint MainLoopHeartbeat::poll(GPollFD* fds, guint count, gint timeout) {
    const auto before = std::chrono::steady_clock::now();
    const gint result = pollBeneath(fds, count, timeout);
    polledInAll += std::chrono::steady_clock::now() - before;
    return result;
}

MainLoopHeartbeat::Sample MainLoopHeartbeat::sample() const {
    Sample s;
    s.at = std::chrono::steady_clock::now();
    s.polled = polledInAll;
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    s.cpu = std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    s.waits = usage.ru_nvcsw;
    s.preemptions = usage.ru_nivcsw;
    // The second field: nanoseconds spent waiting on a run queue.
    unsigned long long running = 0, waiting = 0;
    if (FILE* f = std::fopen("/proc/thread-self/schedstat", "r")) {
        if (std::fscanf(f, "%llu %llu", &running, &waiting) == 2) s.runQueue = std::chrono::nanoseconds(waiting);
        std::fclose(f);
    }
    return s;
}

MainLoopHeartbeat::MainLoopHeartbeat() : previousPoll_(g_main_context_get_poll_func(nullptr)) {
    pollBeneath = previousPoll_;
    g_main_context_set_poll_func(nullptr, &MainLoopHeartbeat::poll);
    source_ = g_timeout_add(10, &MainLoopHeartbeat::beat, this);
    start_ = last_ = sample();
}

MainLoopHeartbeat::~MainLoopHeartbeat() {
    g_clear_handle_id(&source_, g_source_remove);
    g_main_context_set_poll_func(nullptr, previousPoll_);
}

gboolean MainLoopHeartbeat::beat(gpointer data) {
    auto* self = static_cast<MainLoopHeartbeat*>(data);
    const Sample now = self->sample();
    const auto heldUp = (now.at - self->last_.at) - (now.polled - self->last_.polled) -
                        (now.runQueue - self->last_.runQueue);
    if (heldUp > self->longest_) {
        self->longest_ = heldUp;
        self->longestFrom_ = self->last_;
        self->longestTo_ = now;
    }
    self->last_ = now;
    return G_SOURCE_CONTINUE;
}

std::chrono::milliseconds MainLoopHeartbeat::longestHeldUp() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest_);
}

std::string MainLoopHeartbeat::longestHeldUpDetails() const {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    std::ostringstream text;
    text << longestHeldUp().count() << " ms held up, from "
         << duration_cast<milliseconds>(longestFrom_.at - start_.at).count() << " ms on, in a gap of "
         << duration_cast<milliseconds>(longestTo_.at - longestFrom_.at).count() << " ms; main thread CPU "
         << duration_cast<milliseconds>(longestTo_.cpu - longestFrom_.cpu).count() << " ms, waits "
         << longestTo_.waits - longestFrom_.waits << ", preempted "
         << longestTo_.preemptions - longestFrom_.preemptions << " times, waited for a CPU "
         << duration_cast<milliseconds>(longestTo_.runQueue - longestFrom_.runQueue).count() << " ms";
    return text.str();
}

int openFdCount() {
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

int threadCount() {
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

}  // namespace brindlemar::test
