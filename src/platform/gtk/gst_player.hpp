#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// A Player on GstPlay (playbin) rendering into gtksink. The media is opened and
// prerolled at once, paused; nothing plays until play(). Every callback comes on the
// default main context.
std::unique_ptr<Player> createGstPlayer(const std::string& url, std::chrono::seconds forwardBuffer);

// The widget that shows the video of a player made by createGstPlayer (black, with the
// picture letterboxed); nullptr for any other Player.
GtkWidget* videoWidgetOf(Player& player);

// Destroying a player stops and frees its pipeline on a helper thread, so that the
// main loop stays free to serve gtksink meanwhile. True while any such release is
// still under way; it ends on a turn of the default main context.
bool playerReleasesPending();
// Runs the default main context until every release has ended (or a few seconds
// have passed).
void waitForPlayerReleases();

}  // namespace brindlemar::gtk
