#include "shell/status_page.hpp"

#include "shell/app_delegate.hpp"
#include "shell/resources.hpp"

namespace brindlemar {

std::string statusPage(const std::string& message, bool retry) {
    std::string page(resources::statusPageTemplate);
    page += message;
    page += "</p>\n  ";
    if (retry) page += resources::retryButton;
    page += "\n</body></html>";
    return page;
}

void AppDelegate::show(const std::string& message, bool retry) {
    std::string page = statusPage(message, retry);
    shownMessage = message;
    shownRetry = retry;
    webGaveUp = false;
    // The document that may have reported playing videos is about to be replaced.
    awakeWeb = false;
    updateAwake();
    web->loadHtml(page);
}

}  // namespace brindlemar
