// What the main web view may show: the status page (about:blank) and the library
// service's origin. Links the user clicks to other web addresses, and every request
// for a new window with a web address, go to the default browser instead.
#include "bridge/url.hpp"
#include "shell/app_delegate.hpp"

namespace brindlemar {

namespace {

bool isBrowserScheme(const Url& url) {
    const std::string scheme = url.scheme.value_or("");
    return scheme == "https" || scheme == "http";
}

}  // namespace

bool AppDelegate::decidePolicyForNavigationAction(const NavigationAction& action) {
    std::optional<Url> url = action.url ? parseUrl(*action.url) : std::nullopt;
    if (!url) return false;
    if (url->absoluteString == "about:blank") return true;
    if (isServiceOrigin(*url)) return true;
    if (action.linkActivated && isBrowserScheme(*url)) platform_.openUrl(url->absoluteString);
    return false;
}

void AppDelegate::createWebViewForNavigationAction(const NavigationAction& action) {
    std::optional<Url> url = action.url ? parseUrl(*action.url) : std::nullopt;
    if (!url) return;
    if (isBrowserScheme(*url)) platform_.openUrl(url->absoluteString);
}

}  // namespace brindlemar
