#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gsignals.hpp"

namespace brindlemar::gtk {

struct FloatingWindowConfig {
    std::string title;
    int width = 0;  // content size at first
    int height = 0;
    int minWidth = 0;  // content never smaller
    int minHeight = 0;
    double aspect = 16.0 / 9.0;  // width / height, kept while resizing
};

// A small window kept above the others, on every workspace, out of the task bar and
// the pager, that does not take the focus when it appears and belongs to the
// application. Its close button only asks: `closeRequested` runs, and the window
// stays until its owner destroys it (which `closeRequested` may do).
class FloatingWindow {
public:
    FloatingWindow(const FloatingWindowConfig& config, std::function<void()> closeRequested);
    ~FloatingWindow();
    FloatingWindow(const FloatingWindow&) = delete;
    FloatingWindow& operator=(const FloatingWindow&) = delete;

    GtkWindow* window() const { return window_.get(); }

private:
    GRef<GtkWindow> window_;
    std::function<void()> closeRequested_;
    SignalHandlers handlers_;
};

// Gives `widget` the black background of video, from one style provider shared by
// the whole screen.
void paintBlack(GtkWidget* widget);

}  // namespace brindlemar::gtk
