#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// Keeps the machine awake on every desktop: the application's own inhibitor
// (the GNOME session manager, or the desktop portal) together with
// org.freedesktop.ScreenSaver on the session bus when that name is there (KDE,
// Xfce and most X11 screen savers honour it; a portal may answer and inhibit
// nothing). A desktop with neither is left as it is.
class Activities {
public:
    explicit Activities(GtkApplication* app) : app_(app) {}
    ~Activities();
    Token begin(const ActivityOptions& options, const std::string& reason);
    void end(Token token);

private:
    struct Held;
    GtkApplication* app_;
    std::map<std::uint64_t, std::shared_ptr<Held>> held_;
    std::uint64_t next_ = 1;
};

}  // namespace brindlemar::gtk
