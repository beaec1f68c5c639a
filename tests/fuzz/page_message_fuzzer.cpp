// Feeds arbitrary page messages (typed bodies, senders, handler names) to a ready
// shell on the fake platform. Nothing may crash, and a message that fails the
// sender check must not make a single platform call.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bridge/url.hpp"
#include "shell/app_delegate.hpp"
#include "support/fake_platform.hpp"

using namespace brindlemar;

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool empty() const { return pos_ >= size_; }
    double number() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | next();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    std::string text() {
        static const char* known[] = {"action", "play", "stop", "pause", "resume", "seek", "awake",
                                      "idle", "url", "position", "title", "audio", "subtitles", "to",
                                      "enter", "exit", "http://127.0.0.1:47874/v.mp4",
                                      "http://127.0.0.1/v.mp4", "off", "original", "auto", "es"};
        std::uint8_t kind = next();
        if (kind < 160) return known[kind % (sizeof known / sizeof *known)];
        std::string s;
        for (std::uint8_t n = next() % 24; n > 0 && !empty(); --n) s += static_cast<char>(next());
        return s;
    }
    BodyValue value(int depth) {
        switch (next() % 4) {
            case 0: return BodyValue(text());
            case 1: return BodyValue(number());
            case 2: {
                if (depth > 4) return BodyValue();
                BodyValue::Object object;
                for (std::uint8_t n = next() % 6; n > 0 && !empty(); --n) object.insert_or_assign(text(), value(depth + 1));
                return BodyValue(std::move(object));
            }
            default: return BodyValue();
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    testing::FakePlatform platform;
    auto app = std::make_shared<AppDelegate>(platform);
    app->applicationDidFinishLaunching();
    if (in.next() & 1) platform.childWrites(0, "Brindlemar disponible en http://127.0.0.1:47874");
    platform.calls.clear();

    static const char* handlers[] = {"brindlemarPlayer", "brindlemarPip", "brindlemarRetry", "otro"};
    PageMessage message;
    std::uint8_t flags = in.next();
    message.name = handlers[flags % 4];
    message.isMainFrame = flags & 4;
    switch ((flags >> 3) % 4) {
        case 0: message.originHost = "127.0.0.1"; message.originPort = 47874; break;
        case 1: message.originHost = ""; message.originPort = 0; break;
        case 2: message.originHost = "127.0.0.1"; message.originPort = 47875; break;
        default: message.originHost = in.text(); message.originPort = in.next(); break;
    }
    message.body = in.value(0);

    platform.webEvents.scriptMessage(message);
    platform.runPosted();

    const bool fromLibrary = message.originHost == "127.0.0.1" && message.originPort == 47874;
    const bool rejected = !message.isMainFrame ||
                          (message.name == "brindlemarRetry" ? app->ready || !message.originHost.empty()
                                                             : !fromLibrary);
    if (rejected && !platform.calls.empty()) std::abort();
    for (const auto& player : platform.players) {
        std::optional<Url> url = parseUrl(player->url);
        if (!url || !isServiceOrigin(*url)) std::abort();
    }
    return 0;
}
