#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// A Player on GstPlay (playbin) rendering into gtksink. The media is opened and
// prerolled at once, paused; nothing plays until play(). Every callback comes on the
// default main context. Destroying it stops and frees its pipeline in the background
// (see gst_pipeline_release.hpp). A non-empty `subtitleUrl` is opened with the media as
// one more subtitle track. HTTP requests to the cookie's origin (media and subtitle
// file) carry `cookie`.
std::unique_ptr<Player> createGstPlayer(const std::string& url, std::chrono::seconds forwardBuffer,
                                        const std::string& subtitleUrl = "",
                                        const std::optional<HttpCookie>& cookie = std::nullopt);

// The widget that shows the video of a player made by createGstPlayer (black, with the
// picture letterboxed); nullptr for any other Player.
GtkWidget* videoWidgetOf(Player& player);

}  // namespace brindlemar::gtk
