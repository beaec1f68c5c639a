#pragma once

#include <memory>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// Native playback on the session bus as an MPRIS2 media player
// (org.mpris.MediaPlayer2.brindlemar at /org/mpris/MediaPlayer2), for the media
// keys and the desktop's media controls. The name is owned for as long as the
// returned object lives; owning it and every bus call are asynchronous.
std::unique_ptr<NowPlaying> publishMpris(const NowPlayingInfo& info, NowPlayingCommands commands);

}  // namespace brindlemar::gtk
