// Feeds page messages to a ready shell on the fake platform, the way they arrive from
// the web process: as the parameters of the extension's user message, read by the
// same decoding as the web view's. Most inputs build a message as the extension
// encodes one (a typed body of strings, numbers, booleans, objects and other values); inputs
// whose first byte is 0xff are taken as raw serialized parameters instead, as a
// misbehaving web process could send them.
//
// Nothing may crash; a body must decode to exactly the value that was encoded; a
// message that fails the sender check must not make a single platform call; and
// every player plays a URL on the service origin. An input may carry a few encoded
// messages in a row, so that a "seek" or "pause" can meet the player a "play" made.
#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bridge/url.hpp"
#include "platform/gtk/page_message_decoding.hpp"
#include "shell/app_delegate.hpp"
#include "support/fake_platform.hpp"
#include "webext/page_message_wire.hpp"

using namespace brindlemar;

namespace {

// Objects nested deeper than this the extension sends as "other".
constexpr int maxBodyDepth = 8;

// A body as the extension encodes it, and the value it stands for.
struct Encoded {
    GVariant* variant;  // floating
    BodyValue value;
};

bool sameValue(const BodyValue& a, const BodyValue& b) {
    if (a.string() || b.string()) return a.string() && b.string() && *a.string() == *b.string();
    if (a.number() || b.number())  // bit for bit: NaN is NaN, -0 is not 0
        return a.number() && b.number() && std::memcmp(a.number(), b.number(), sizeof(double)) == 0;
    if (a.boolean() || b.boolean()) return a.boolean() && b.boolean() && *a.boolean() == *b.boolean();
    if (a.object() || b.object()) {
        if (!a.object() || !b.object() || a.object()->size() != b.object()->size()) return false;
        for (auto i = a.object()->begin(), j = b.object()->begin(); i != a.object()->end(); ++i, ++j)
            if (i->first != j->first || !sameValue(i->second, j->second)) return false;
        return true;
    }
    return true;  // both "other"
}

// Script strings reach the extension as C strings, and leave it as valid UTF-8.
std::string asScriptString(const std::string& bytes) {
    g_autofree char* valid = g_utf8_make_valid(bytes.c_str(), -1);
    return valid;
}

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
                                      "http://127.0.0.1/v.mp4", "off", "original", "auto", "es",
                                      "next", "hwdec", "true"};
        std::uint8_t kind = next();
        if (kind < 160) return known[kind % (sizeof known / sizeof *known)];
        std::string s;
        for (std::uint8_t n = next() % 24; n > 0 && !empty(); --n) s += static_cast<char>(next());
        return s;
    }
    Encoded body(int depth) {
        // 3 (and what is left over at a depth too great for objects) is "other".
        switch (next() % 5) {
            case 0: {
                std::string s = asScriptString(text());
                return {g_variant_new_string(s.c_str()), BodyValue(s)};
            }
            case 1: {
                double d = number();
                return {g_variant_new_double(d), BodyValue(d)};
            }
            case 2: {
                if (depth >= maxBodyDepth) break;
                GVariantBuilder builder;
                g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
                BodyValue::Object object;
                for (std::uint8_t n = next() % 6; n > 0 && !empty(); --n) {
                    std::string key = text().c_str();
                    Encoded member = body(depth + 1);
                    if (!g_utf8_validate(key.c_str(), -1, nullptr)) {  // the extension leaves it out
                        g_variant_unref(g_variant_ref_sink(member.variant));
                        continue;
                    }
                    g_variant_builder_add(&builder, "{sv}", key.c_str(), member.variant);
                    object.insert_or_assign(key, std::move(member.value));
                }
                return {g_variant_builder_end(&builder), BodyValue(std::move(object))};
            }
            case 4: {
                const bool b = next() & 1;
                return {g_variant_new_boolean(b), BodyValue(b)};
            }
            default:
                break;
        }
        return {g_variant_new_tuple(nullptr, 0), BodyValue()};
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The message as the extension would send it, checked to decode to what was encoded.
std::optional<PageMessage> encodedMessage(Bytes& in) {
    static const char* handlers[] = {"brindlemarPlayer", "brindlemarPip", "brindlemarRetry", "otro"};
    const std::uint8_t flags = in.next();
    PageMessage sent;
    sent.name = handlers[flags % 4];
    sent.isMainFrame = flags & 4;
    switch ((flags >> 3) % 4) {
        case 0: sent.originHost = "127.0.0.1"; sent.originPort = 47874; break;
        case 1: sent.originHost = ""; sent.originPort = 0; break;
        case 2: sent.originHost = "127.0.0.1"; sent.originPort = 47875; break;
        default:
            sent.originHost = asScriptString(in.text());
            sent.originPort = static_cast<std::int64_t>(in.next()) << (in.next() % 56);
            break;
    }
    Encoded body = in.body(0);
    g_autoptr(GVariant) parameters = g_variant_ref_sink(
        g_variant_new(wire::pageMessageType, sent.name.c_str(), body.variant, sent.isMainFrame,
                      sent.originHost.c_str(), static_cast<gint64>(sent.originPort)));
    std::optional<PageMessage> received = gtk::decodePageMessage(parameters);
    if (!received || received->name != sent.name || received->isMainFrame != sent.isMainFrame ||
        received->originHost != sent.originHost || received->originPort != sent.originPort ||
        !sameValue(received->body, body.value))
        std::abort();
    return received;
}

// Serialized parameters as they come, trusted for nothing.
std::optional<PageMessage> rawMessage(const std::uint8_t* data, std::size_t size) {
    g_autoptr(GBytes) bytes = g_bytes_new(data, size);
    g_autoptr(GVariant) parameters =
        g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE(wire::pageMessageType), bytes, FALSE));
    return gtk::decodePageMessage(parameters);
}

// A message that fails the sender check makes no platform call at all.
void checkSenderRule(const AppDelegate& app, const PageMessage& message, const testing::FakePlatform& platform) {
    const bool fromLibrary = message.originHost == "127.0.0.1" && message.originPort == 47874;
    const bool rejected = !message.isMainFrame ||
                          (message.name == "brindlemarRetry" ? app.ready || !message.originHost.empty()
                                                             : !fromLibrary);
    if (rejected && !platform.calls.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    const std::uint8_t first = in.next();
    testing::FakePlatform platform;
    auto app = std::make_shared<AppDelegate>(platform);
    app->applicationDidFinishLaunching();
    if (first & 1) platform.childWrites(0, "Brindlemar disponible en http://127.0.0.1:47874");
    platform.runPosted();

    // One raw message, or a few encoded ones in a row (a "play" and then a "seek").
    for (int count = 0; count < 4 && (count == 0 || !in.empty()); ++count) {
        std::optional<PageMessage> message =
            first == 0xff ? rawMessage(data + 1, size - 1) : encodedMessage(in);
        if (!message) break;
        platform.calls.clear();
        platform.webEvents.scriptMessage(*message);
        platform.runPosted();
        checkSenderRule(*app, *message, platform);
        if (first == 0xff) break;
    }
    for (const auto& player : platform.players) {
        std::optional<Url> url = parseUrl(player->url);
        if (!url || !isServiceOrigin(*url)) std::abort();
    }
    return 0;
}
