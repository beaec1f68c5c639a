// What the library service writes, and its exit.
#include <chrono>

#include "shell/app_delegate.hpp"
#include "shell/messages.hpp"
#include "supervisor/output_tail.hpp"
#include "supervisor/service_secret.hpp"

namespace brindlemar {

namespace {
constexpr const char* readinessLine = "Brindlemar disponible en http://127.0.0.1:47874";
constexpr std::int32_t outputTailLength = 4096;
constexpr auto requestTimeout = std::chrono::seconds(60);
}  // namespace

void AppDelegate::backendOutput(const std::string& bytes) {
    if (stopping) return;
    appendToTail(output, bytes, outputTailLength);
    if (ready) return;
    if (output.indexOf(icu::UnicodeString(readinessLine, -1, icu::UnicodeString::kInvariant)) < 0)
        return;
    ready = true;
    // The page's very first request must carry the secret, so the origin is loaded only
    // once the cookie is in the jar.
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    const std::int64_t generation = attempts;
    web->addCookie(serviceCookie(serviceSecret), [weak, generation](bool stored) {
        if (auto self = weak.lock()) self->serviceCookieStored(generation, stored);
    });
}

void AppDelegate::serviceCookieStored(std::int64_t generation, bool stored) {
    if (stopping || !ready || attempts != generation) return;
    if (!stored) {
        // The page would only be refused: say so, and let a retry start afresh.
        ready = false;
        show(messages::cookieFailed, true);
        return;
    }
    loadLibraryPage();
}

void AppDelegate::loadLibraryPage() {
    webGaveUp = false;
    web->loadRequest(serviceOrigin, requestTimeout);
}

void AppDelegate::backendExited(std::int64_t generation) {
    if (stopping) return;
    // A child that a restart has replaced: its successor owns the status page.
    if (generation != attempts) return;
    if (ready) {
        // The library page has lost its server. Its readiness line is stale now:
        // only a new service may load the page again.
        ready = false;
        output.remove();
    }
    show(messages::serviceClosed, true);
}

void AppDelegate::restartBackend() {
    if (stopping) return;
    if (attempts > 4) return;
    ++attempts;
    if (backend && backend->isRunning()) backend->terminate();
    backend.reset();
    ready = false;
    output.remove();
    show(messages::preparing, false);
    startBackend();
}

}  // namespace brindlemar
