#pragma once

#include <memory>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// Launches the child with GSubprocess: stdout and stderr on one pipe, read as raw
// bytes on the main context for the whole life of the child.
std::unique_ptr<ChildProcess> launchChild(const ChildCommand& command, ChildEvents events);

}  // namespace brindlemar::gtk
