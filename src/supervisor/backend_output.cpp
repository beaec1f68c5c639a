// What the library service writes, and its exit.
#include <chrono>

#include "shell/app_delegate.hpp"
#include "shell/messages.hpp"
#include "supervisor/output_tail.hpp"

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
    web->loadRequest(serviceOrigin, requestTimeout);
}

void AppDelegate::backendExited() {
    if (stopping || ready) return;
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
