#pragma once

#include <string>

namespace brindlemar {

// The status page document: template, message (inserted as is), the closing of the
// paragraph and, when asked, the retry button.
std::string statusPage(const std::string& message, bool retry);

}  // namespace brindlemar
