// Why mpv could not play a file, told from its error code and its last messages.
#pragma once

#include <deque>
#include <string>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// `error` is the end-file error (an mpv_error); `messages` mpv's latest warnings and
// errors, oldest first, each "prefix: text".
PlaybackError playbackErrorOf(int error, const std::deque<std::string>& messages);

}  // namespace brindlemar::gtk
