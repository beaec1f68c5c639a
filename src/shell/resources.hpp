// Text resources embedded at build time from the resources/ folder.
#pragma once

#include <string_view>

namespace brindlemar::resources {

extern const std::string_view statusPageTemplate;  // status-page.html
extern const std::string_view retryButton;         // retry-button.html
extern const std::string_view wakeScript;          // wake.js

}  // namespace brindlemar::resources
