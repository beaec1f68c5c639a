#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// A Player on GstPlay (playbin) rendering into gtksink.
std::unique_ptr<Player> createGstPlayer(const std::string& url, std::chrono::seconds forwardBuffer);

// The widget that shows the video of a player made by createGstPlayer.
GtkWidget* videoWidgetOf(Player& player);

}  // namespace brindlemar::gtk
