#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// Lays a player view over a content view (see GtkView).
std::unique_ptr<PlayerView> createPlayerView(View& content);

// Space, Left and Right for the player view shown in the window that received
// the key press; true when one of them took it.
bool playerViewsHandleKey(GdkEventKey* event);

}  // namespace brindlemar::gtk
