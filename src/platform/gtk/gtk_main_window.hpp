#pragma once

#include <functional>
#include <memory>

#include <gtk/gtk.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// The main window: the menu bar on top of the content view.
std::unique_ptr<Window> createMainWindow(GtkApplication* app, GMenuModel* menuBar, int width,
                                         int height, std::function<void()> closed);

// The GDK window of a main window made by createMainWindow (nothing before it is shown).
GdkWindow* gdkWindowOf(Window& window);

}  // namespace brindlemar::gtk
