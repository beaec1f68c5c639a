// Page messages: who may send what, and which operation each request calls.
// Every message that fails a check is dropped without a trace.

#include "bridge/url.hpp"
#include "shell/app_delegate.hpp"

namespace brindlemar {

namespace {

const std::string* stringMember(const BodyValue::Object& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : it->second.string();
}

const double* numberMember(const BodyValue::Object& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : it->second.number();
}

const bool* booleanMember(const BodyValue::Object& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : it->second.boolean();
}

std::string stringOr(const BodyValue::Object& object, const char* key, const char* fallback) {
    const std::string* value = stringMember(object, key);
    return value ? *value : fallback;
}

}  // namespace

void AppDelegate::didReceiveScriptMessage(const PageMessage& message) {
    if (!message.isMainFrame) return;

    if (message.name == "brindlemarRetry") {
        // Only the status page (no host) may ask. After the page died too often
        // the button brings it back; otherwise it restarts the service, and only
        // while the library page is not loaded. The body is not read.
        if (!message.originHost.empty()) return;
        if (webGaveUp) {
            reloadAfterCrashes();
        } else if (!ready) {
            restartBackend();
        }
        return;
    }

    // Everything else must come from the library page.
    if (message.originHost != "127.0.0.1" || message.originPort != 47874) return;

    if (message.name == "brindlemarPip") {
        const std::string* request = message.body.string();
        if (!request) return;
        if (*request == "enter") {
            enterPip();
        } else if (*request == "exit") {
            leavePip();
        }
        return;
    }

    if (message.name != "brindlemarPlayer") return;
    const BodyValue::Object* body = message.body.object();
    if (!body || body->empty()) return;
    const std::string* action = stringMember(*body, "action");
    if (!action) return;

    if (*action == "play") {
        const std::string* text = stringMember(*body, "url");
        if (!text) return;
        std::optional<Url> url = parseUrl(*text);
        if (!url || !isServiceOrigin(*url)) return;
        // An optional subtitle file, held to the same origin as the video; a value that
        // is not such an address drops the whole request, as a bad "url" does.
        std::optional<Url> subtitleUrl;
        if (auto it = body->find("subtitleUrl"); it != body->end()) {
            const std::string* subtitleText = it->second.string();
            if (!subtitleText) return;
            subtitleUrl = parseUrl(*subtitleText);
            if (!subtitleUrl || !isServiceOrigin(*subtitleUrl)) return;
        }
        const double* position = numberMember(*body, "position");
        // What follows (a string, even empty) and whether hardware decoding is allowed
        // (a boolean); of any other type they are as if missing.
        const std::string* next = stringMember(*body, "next");
        const bool* hwdec = booleanMember(*body, "hwdec");
        startNative(*url, position ? *position : 0.0, stringOr(*body, "title", "Brindlemar"),
                    stringOr(*body, "audio", "original"), stringOr(*body, "subtitles", "off"),
                    subtitleUrl ? subtitleUrl->absoluteString : std::string(),
                    next ? std::optional<std::string>(*next) : std::nullopt,
                    hwdec ? std::optional<bool>(*hwdec) : std::nullopt);
    } else if (*action == "stop") {
        stopNative(false);
    } else if (*action == "pause") {
        if (player) player->pause();
    } else if (*action == "resume") {
        if (player) player->play();
    } else if (*action == "seek") {
        const double* to = numberMember(*body, "to");
        if (!to) return;
        if (player) player->seek(*to);
    } else if (*action == "awake" || *action == "idle") {
        awakeWeb = *action == "awake";
        updateAwake();
    }
}

}  // namespace brindlemar
