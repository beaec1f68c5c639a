#pragma once

#include <gtk/gtk.h>

#include <optional>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// A content view on GTK: an overlay, so that native playback can be laid over
// whatever it shows, and carried along with it when it moves to another window.
class GtkView : public virtual View {
public:
    virtual GtkOverlay* host() const = 0;
};

// The overlay of a content view made by this backend; nullptr for any other view
// (never an exception: this is reached from C callbacks).
inline GtkOverlay* hostOf(View& view) {
    auto* gtkView = dynamic_cast<GtkView*>(&view);
    return gtkView ? gtkView->host() : nullptr;
}

// Moves `child` out of whatever contains it into `container` (replacing the
// container's current child when it is a GtkBin).
void moveInto(GtkWidget* child, GtkContainer* container);

// The work area of the monitor that shows `near` (or of the primary monitor, or of
// the first); nothing without any monitor.
std::optional<GdkRectangle> workAreaNear(GdkWindow* near);

}  // namespace brindlemar::gtk
