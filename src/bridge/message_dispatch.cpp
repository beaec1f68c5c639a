// Page messages: who may send what, and which operation each request calls.
#include "shell/app_delegate.hpp"

namespace brindlemar {

void AppDelegate::didReceiveScriptMessage(const PageMessage& message) {
    if (!message.isMainFrame) return;
    if (message.name == "brindlemarRetry") {
        // Only the status page (no host) may restart the service, and only before
        // the library page has loaded.
        if (ready) return;
        if (message.originHost.empty()) restartBackend();
        return;
    }
}

}  // namespace brindlemar
