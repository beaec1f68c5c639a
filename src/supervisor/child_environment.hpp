#pragma once

#include <string>

#include "platform/platform.hpp"

namespace brindlemar {

// The library service's environment: the shell's own, less every variable whose
// name begins with "BRINDLEMAR_" or "NODE_", plus the data directory, bind address,
// port and the launch secret (replacing any inherited value).
Environment childEnvironment(Environment inherited, const std::string& dataDirectory,
                             const std::string& secret);

}  // namespace brindlemar
