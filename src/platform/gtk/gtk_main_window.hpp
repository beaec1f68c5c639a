#pragma once

#include <functional>
#include <memory>

#include <gtk/gtk.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// The main window: the menu bar on top of a content slot. The content slot is an
// overlay, so that native playback can later be laid over the page.
std::unique_ptr<Window> createMainWindow(GtkApplication* app, GMenuModel* menuBar, int width,
                                         int height, std::function<void()> closed);

}  // namespace brindlemar::gtk
