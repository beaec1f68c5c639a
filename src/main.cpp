// Entry point: one GtkApplication (single instance), one AppDelegate on the real
// platform. The command line is not read.
#include <glib-unix.h>
#include <gtk/gtk.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <clocale>
#include <memory>

#include "platform/gtk/gtk_platform.hpp"
#include "platform/gtk/mpv_player.hpp"
#include "platform/gtk/gtk_rendering.hpp"
#include "shell/app_delegate.hpp"

namespace {

struct Application {
    brindlemar::gtk::GtkPlatform& platform;
    std::shared_ptr<brindlemar::AppDelegate> delegate;
    bool launched = false;
};

void onActivate(GApplication*, gpointer data) {
    auto* application = static_cast<Application*>(data);
    if (application->launched) {
        // A second launch reaches the running instance here.
        application->delegate->reopen();
        return;
    }
    application->launched = true;
    application->delegate->applicationDidFinishLaunching();
}

gboolean onQuitSignal(gpointer data) {
    // Also reached while the last players are released at shutdown, with no delegate.
    if (const auto& delegate = static_cast<Application*>(data)->delegate) delegate->terminate();
    return G_SOURCE_CONTINUE;
}

// However the main loop ends (the session manager's EndSession quits the
// application directly), the service is told to stop. The delegate goes here,
// while the application is still registered: its windows, its player and the
// activities it holds are let go while what they belong to still exists.
void onShutdown(GApplication*, gpointer data) {
    auto* application = static_cast<Application*>(data);
    if (!application->delegate) return;
    if (!application->delegate->stopping) application->delegate->applicationWillTerminate();
    application->delegate.reset();
    // A player let go releases its mpv instance on a thread of its own: let it
    // finish before the process exits.
    brindlemar::gtk::waitForPlayerReleases();
}

// Playback threads come and go with every video, and glibc gives threads arenas of
// their own (up to eight per core); memory freed in them stays with the process, and
// each play/stop can leave the shell a little bigger. Two arenas (the main thread's
// and one for all others) keep it flat. A value set in MALLOC_ARENA_MAX wins. Must run
// before the first thread starts.
void limitMallocArenas() {
#if defined(__GLIBC__)
    if (!g_getenv("MALLOC_ARENA_MAX")) mallopt(M_ARENA_MAX, 2);
#endif
}

void onStartup(GApplication*, gpointer data) {
    // GTK has just set every locale category from the environment. mpv refuses to
    // start under any numeric locale but "C" (it reads and writes numbers as text), so
    // that one goes back, before any player exists. Nothing shown to the user formats
    // numbers through the C library's locale.
    setlocale(LC_NUMERIC, "C");
    static_cast<Application*>(data)->platform.startup();
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(signal, onQuitSignal, data);
}

}  // namespace

int main() {
    // First, while this is the only thread: the allocator and the environment may be
    // changed here.
    limitMallocArenas();
    auto rendering = brindlemar::gtk::RenderingPolicy::start();
    GtkApplication* app = gtk_application_new("com.brindlemar.app", G_APPLICATION_DEFAULT_FLAGS);
    // Known to the session manager, so that logging out ends the application cleanly.
    g_object_set(app, "register-session", TRUE, nullptr);
    int status = 0;
    {
        brindlemar::gtk::GtkPlatform platform(app, std::move(rendering));
        Application application{platform, std::make_shared<brindlemar::AppDelegate>(platform)};
        g_signal_connect(app, "startup", G_CALLBACK(onStartup), &application);
        g_signal_connect(app, "activate", G_CALLBACK(onActivate), &application);
        g_signal_connect(app, "shutdown", G_CALLBACK(onShutdown), &application);
        status = g_application_run(G_APPLICATION(app), 0, nullptr);
        application.delegate.reset();  // when the application never started
    }
    g_object_unref(app);
    return status;
}
