// The smallest GTK 3 + WebKitGTK program that shows a page: the yardstick for the
// shell's start-up in startup.py. One window of 1280x800 with one web view loading
// the URL given as the only argument. Nothing else.
//
// With MINIMAL_ACCELERATION=never the web view's hardware acceleration policy is set
// to never, to compare that setting with WEBKIT_DISABLE_COMPOSITING_MODE.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        g_printerr("usage: %s URL\n", argv[0]);
        return 2;
    }
    gtk_init(nullptr, nullptr);

    WebKitSettings* settings = webkit_settings_new();
    const char* acceleration = g_getenv("MINIMAL_ACCELERATION");
    if (acceleration && std::strcmp(acceleration, "never") == 0)
        webkit_settings_set_hardware_acceleration_policy(settings,
                                                         WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    GtkWidget* view = webkit_web_view_new_with_settings(settings);
    g_object_unref(settings);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Minimal");
    gtk_window_set_default_size(GTK_WINDOW(window), 1280, 800);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);

    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_main();
    return 0;
}
