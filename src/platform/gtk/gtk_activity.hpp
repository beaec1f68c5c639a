#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// Keeps the machine awake on every desktop, asking on the session bus without ever
// waiting for an answer on the main loop: the session manager (GNOME and others
// that implement org.gnome.SessionManager), or, where there is none, the desktop
// portal; together with org.freedesktop.ScreenSaver when that name is there (KDE,
// Xfce and most X11 screen savers honour it; a portal may answer and inhibit
// nothing). A desktop with none of them is left as it is.
class Activities {
public:
    explicit Activities(GtkApplication* app) : app_(app) {}
    ~Activities();
    Token begin(const ActivityOptions& options, const std::string& reason);
    void end(Token token);

    struct Held;

private:
    GtkApplication* app_;
    std::map<std::uint64_t, std::shared_ptr<Held>> held_;
    std::uint64_t next_ = 1;
};

}  // namespace brindlemar::gtk
