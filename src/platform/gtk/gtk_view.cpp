#include "platform/gtk/gtk_view.hpp"

#include "platform/gtk/gref.hpp"

namespace brindlemar::gtk {

void moveInto(GtkWidget* child, GtkContainer* container) {
    // Keep the child alive while it has no parent.
    GRef<GtkWidget> keep = ref(child);
    if (GtkWidget* parent = gtk_widget_get_parent(child)) {
        if (parent == GTK_WIDGET(container)) return;
        gtk_container_remove(GTK_CONTAINER(parent), child);
    }
    if (GTK_IS_BIN(container)) {
        if (GtkWidget* current = gtk_bin_get_child(GTK_BIN(container)))
            gtk_container_remove(container, current);
    }
    gtk_container_add(container, child);
    gtk_widget_show(child);
}

std::optional<GdkRectangle> workAreaNear(GdkWindow* near) {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return std::nullopt;
    GdkMonitor* monitor = near ? gdk_display_get_monitor_at_window(display, near) : nullptr;
    if (!monitor) monitor = gdk_display_get_primary_monitor(display);
    if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return std::nullopt;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return area;
}

}  // namespace brindlemar::gtk
