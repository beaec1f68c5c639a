// The web content process can die under any document (a crash, the kernel's
// out-of-memory killer, a kill): the view is then empty and nothing in it answers.
// The shell loads again what the view showed; a page that keeps dying is given up
// after three reloads a minute, and the user decides when to try again.
#include <chrono>

#include "shell/app_delegate.hpp"
#include "shell/messages.hpp"

namespace brindlemar {

namespace {
constexpr int reloadsPerWindow = 3;
constexpr auto crashWindow = std::chrono::minutes(1);
}  // namespace

void AppDelegate::webProcessTerminated() {
    // The page that reported a playing video is gone and will never say "idle".
    awakeWeb = false;
    updateAwake();
    // The page that tells the user we gave up died as well: leave it to the user.
    if (webGaveUp) return;

    ++webCrashes;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    const std::int64_t window = webCrashWindow;
    platform_.after(crashWindow, [weak, window] {
        auto self = weak.lock();
        if (self && self->webCrashWindow == window && self->webCrashes > 0) --self->webCrashes;
    });

    if (webCrashes > reloadsPerWindow) {
        // The status page is shown without remembering it, so that a retry knows
        // what the view showed before.
        const std::string message = shownMessage;
        const bool retry = shownRetry;
        show(messages::pageCrashed, true);
        shownMessage = message;
        shownRetry = retry;
        webGaveUp = true;
        return;
    }
    reloadShown();
}

void AppDelegate::reloadAfterCrashes() {
    webGaveUp = false;
    webCrashes = 0;
    ++webCrashWindow;
    reloadShown();
}

void AppDelegate::reloadShown() {
    if (ready) {
        loadLibraryPage();
    } else {
        show(shownMessage, shownRetry);
    }
}

}  // namespace brindlemar
