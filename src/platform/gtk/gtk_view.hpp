#pragma once

#include <gtk/gtk.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// A content view on GTK: an overlay, so that native playback can be laid over
// whatever it shows, and carried along with it when it moves to another window.
class GtkView : public virtual View {
public:
    virtual GtkOverlay* host() const = 0;
};

inline GtkOverlay* hostOf(View& view) {
    return dynamic_cast<GtkView&>(view).host();
}

// Moves `child` out of whatever contains it into `container` (replacing the
// container's current child when it is a GtkBin).
void moveInto(GtkWidget* child, GtkContainer* container);

}  // namespace brindlemar::gtk
