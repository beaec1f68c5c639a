#include "platform/gtk/gtk_floating_window.hpp"

namespace brindlemar::gtk {

FloatingWindow::FloatingWindow(const FloatingWindowConfig& config, std::function<void()> closeRequested)
    : closeRequested_(std::move(closeRequested)) {
    window_ = ref(GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL)));
    GtkWindow* w = window_.get();
    gtk_window_set_title(w, config.title.c_str());
    gtk_window_set_default_size(w, config.width, config.height);
    gtk_window_set_keep_above(w, TRUE);
    gtk_window_stick(w);
    gtk_window_set_skip_taskbar_hint(w, TRUE);
    gtk_window_set_skip_pager_hint(w, TRUE);
    gtk_window_set_focus_on_map(w, FALSE);
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_NORMAL);

    GdkGeometry hints{};
    hints.min_width = config.minWidth;
    hints.min_height = config.minHeight;
    hints.min_aspect = hints.max_aspect = config.aspect;
    gtk_window_set_geometry_hints(w, nullptr, &hints, static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_ASPECT));
    if (GApplication* app = g_application_get_default()) gtk_window_set_application(w, GTK_APPLICATION(app));

    handlers_.connect(w, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                          // A copy: the request may destroy this window, and the function with it.
                          auto closeRequested = static_cast<FloatingWindow*>(data)->closeRequested_;
                          if (closeRequested) closeRequested();
                          return TRUE;
                      }), this);
}

FloatingWindow::~FloatingWindow() {
    handlers_.clear();
    gtk_widget_destroy(GTK_WIDGET(window_.get()));
}

void paintBlack(GtkWidget* widget) {
    static bool installed = false;
    GdkScreen* screen = gtk_widget_get_screen(widget);
    if (!installed && screen) {
        auto css = adopt(gtk_css_provider_new());
        gtk_css_provider_load_from_data(css.get(), ".brindlemar-black { background-color: #000000; }", -1, nullptr);
        // The screen keeps the provider for the rest of the process.
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css.get()),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        installed = true;
    }
    gtk_style_context_add_class(gtk_widget_get_style_context(widget), "brindlemar-black");
}

}  // namespace brindlemar::gtk
