#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// Lays a player view over a content view (see GtkView).
std::unique_ptr<PlayerView> createPlayerView(View& content);

}  // namespace brindlemar::gtk
