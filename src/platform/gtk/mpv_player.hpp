// The native player on libmpv.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// How the picture reaches the screen.
enum class VideoOutput {
    Software,  // mpv's software renderer into memory, drawn with cairo: works everywhere
    OpenGL,    // mpv's OpenGL renderer inside a GtkGLArea, for a hardware GPU
};

// A Player on its own mpv instance, which reads no configuration of the user's and
// acts on no input of its own. The media is opened on a later turn of the main loop,
// paused, at the position of a seek() made before that; the audio and subtitle tracks
// chosen once the streams are known are in place before any of them is decoded.
// Nothing plays until play(). Every callback comes on the default main context; no
// call made on it waits for the player. Destroying it releases the mpv instance on a
// thread of its own (see playerReleasesPending). A non-empty `subtitleUrl` is offered
// as one more subtitle track (marked external). The HTTP requests of the player carry
// `cookie` when the media lies on the cookie's origin, and a subtitle file on another
// origin is then not opened.
std::unique_ptr<Player> createMpvPlayer(const std::string& url, std::chrono::seconds forwardBuffer,
                                        const std::string& subtitleUrl = "",
                                        const std::optional<HttpCookie>& cookie = std::nullopt,
                                        VideoOutput output = VideoOutput::Software);

// The widget that shows the video of a player made by createMpvPlayer (black, with
// the picture letterboxed); nullptr for any other Player. It belongs to the player
// and may be moved between containers while the player lives.
GtkWidget* videoWidgetOf(Player& player);

// True while an mpv instance of a destroyed player is still being released.
bool playerReleasesPending();

// Blocks until every release under way has ended (or a few seconds have passed).
void waitForPlayerReleases();

}  // namespace brindlemar::gtk
