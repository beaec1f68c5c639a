#include "platform/gtk/gtk_activity.hpp"

#include "platform/gtk/gref.hpp"

namespace brindlemar::gtk {

namespace {
constexpr const char* screenSaverName = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverPath = "/org/freedesktop/ScreenSaver";
}  // namespace

// One held activity: the application's inhibitor cookie, and the screen saver's
// cookie once its answer has come. Ending it before that answer releases the
// cookie when it arrives.
struct Activities::Held {
    guint appCookie = 0;
    guint32 screenSaverCookie = 0;
    bool screenSaverPending = false;
    bool ended = false;
    GRef<GDBusConnection> bus;
};

namespace {

void releaseScreenSaver(GDBusConnection* bus, guint32 cookie) {
    g_dbus_connection_call(bus, screenSaverName, screenSaverPath, screenSaverName, "UnInhibit",
                           g_variant_new("(u)", cookie), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                           -1, nullptr, nullptr, nullptr);
}

}  // namespace

Activities::~Activities() {
    for (auto& [id, held] : held_) {
        (void)id;
        if (held->appCookie) gtk_application_uninhibit(app_, held->appCookie);
    }
}

Token Activities::begin(const ActivityOptions& options, const std::string& reason) {
    auto held = std::make_shared<Held>();
    int flags = 0;
    if (options.idleSystemSleepDisabled) flags |= GTK_APPLICATION_INHIBIT_SUSPEND;
    if (options.idleDisplaySleepDisabled) flags |= GTK_APPLICATION_INHIBIT_IDLE;
    held->appCookie = gtk_application_inhibit(app_, gtk_application_get_active_window(app_),
                                              static_cast<GtkApplicationInhibitFlags>(flags),
                                              reason.c_str());

    GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(app_));
    if (bus) {
        held->bus = ref(bus);
        held->screenSaverPending = true;
        auto* pending = new std::shared_ptr<Held>(held);
        g_dbus_connection_call(
            bus, screenSaverName, screenSaverPath, screenSaverName, "Inhibit",
            g_variant_new("(ss)", "Brindlemar", reason.c_str()), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::shared_ptr<Held>> held(static_cast<std::shared_ptr<Held>*>(data));
                (*held)->screenSaverPending = false;
                // No screen saver on this bus is not an error worth telling.
                g_autoptr(GVariant) reply =
                    g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                if (!reply) return;
                g_variant_get(reply, "(u)", &(*held)->screenSaverCookie);
                if ((*held)->ended) {
                    releaseScreenSaver((*held)->bus.get(), (*held)->screenSaverCookie);
                    (*held)->screenSaverCookie = 0;
                }
            },
            pending);
    }

    Token token{next_++};
    held_[token.id] = std::move(held);
    return token;
}

void Activities::end(Token token) {
    auto it = held_.find(token.id);
    if (it == held_.end()) return;
    std::shared_ptr<Held> held = it->second;
    held_.erase(it);
    held->ended = true;
    if (held->appCookie) gtk_application_uninhibit(app_, held->appCookie);
    held->appCookie = 0;
    if (held->screenSaverCookie && held->bus) releaseScreenSaver(held->bus.get(), held->screenSaverCookie);
    held->screenSaverCookie = 0;
}

}  // namespace brindlemar::gtk
