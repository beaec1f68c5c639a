#include "platform/gtk/gtk_desktop_identity.hpp"

#include <gtk/gtk.h>

namespace brindlemar::gtk {

namespace {
constexpr const char* applicationId = "com.brindlemar.app";
}  // namespace

void setProgramIdentity() {
    // The program is the command of the desktop entry; screen readers name the
    // application after it.
    g_set_prgname("brindlemar");
}

void useApplicationIcon(const std::string& installPrefix) {
    // The class of every window (WM_CLASS on X11) is the entry's StartupWMClass; on
    // Wayland the windows of the application carry its id, which is the same.
    gdk_set_program_class(applicationId);
    if (!installPrefix.empty()) {
        g_autofree char* icons = g_build_filename(installPrefix.c_str(), "share", "icons", nullptr);
        gtk_icon_theme_prepend_search_path(gtk_icon_theme_get_default(), icons);
    }
    gtk_window_set_default_icon_name(applicationId);
}

}  // namespace brindlemar::gtk
