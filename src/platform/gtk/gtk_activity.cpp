#include "platform/gtk/gtk_activity.hpp"

#include <gdk/gdkx.h>

#include <functional>
#include <vector>

#include "platform/gtk/gref.hpp"

namespace brindlemar::gtk {

namespace {

constexpr const char* sessionManagerName = "org.gnome.SessionManager";
constexpr const char* sessionManagerPath = "/org/gnome/SessionManager";
constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* portalInhibit = "org.freedesktop.portal.Inhibit";
constexpr const char* portalRequest = "org.freedesktop.portal.Request";
constexpr const char* screenSaverName = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverPath = "/org/freedesktop/ScreenSaver";

// Flags shared by the session manager and the portal.
constexpr guint32 inhibitSuspend = 4;
constexpr guint32 inhibitIdle = 8;

}  // namespace

// One held activity. Every inhibitor answers in its own time; an answer that comes
// after the activity has ended is released at once, so nothing stays inhibited.
struct Activities::Held {
    GRef<GDBusConnection> bus;
    bool ended = false;
    std::vector<std::function<void()>> releases;

    // Called with each inhibitor's release once its answer has come.
    void granted(std::function<void()> release) {
        if (ended) {
            release();
        } else {
            releases.push_back(std::move(release));
        }
    }

    void end() {
        ended = true;
        auto pending = std::move(releases);
        releases.clear();
        for (auto& release : pending) release();
    }
};

namespace {

using HeldRef = std::shared_ptr<Activities::Held>;

struct Request {
    HeldRef held;
    std::string appId;
    guint32 window = 0;
    std::string reason;
    guint32 flags = 0;
};

// Fire-and-forget: the answer to a release is of no use.
void call(GDBusConnection* bus, const char* name, const char* path, const char* interface,
          const char* method, GVariant* parameters) {
    g_dbus_connection_call(bus, name, path, interface, method, parameters, nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

void onPortalInhibit(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Request> request(static_cast<Request*>(data));
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (!reply) return;  // no portal either: nothing to hold
    const char* handle = nullptr;
    g_variant_get(reply, "(&o)", &handle);
    GRef<GDBusConnection> bus = request->held->bus;
    std::string path = handle;
    request->held->granted([bus, path] {
        call(bus.get(), portalName, path.c_str(), portalRequest, "Close", nullptr);
    });
}

void askPortal(std::unique_ptr<Request> request) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "reason", g_variant_new_string(request->reason.c_str()));
    GVariant* parameters = g_variant_new("(sua{sv})", "", request->flags, &options);
    GDBusConnection* bus = request->held->bus.get();
    // The pending call owns the request until its answer.
    g_dbus_connection_call(bus, portalName, portalPath, portalInhibit, "Inhibit", parameters,
                           G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
                           onPortalInhibit, request.release());
}

void onSessionManagerInhibit(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Request> request(static_cast<Request*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply =
        g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
        // No session manager on this bus: the portal may take the request. One
        // that is there and refused is not asked elsewhere.
        if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
            g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
            if (!request->held->ended) askPortal(std::move(request));
        }
        return;
    }
    guint32 cookie = 0;
    g_variant_get(reply, "(u)", &cookie);
    GRef<GDBusConnection> bus = request->held->bus;
    request->held->granted([bus, cookie] {
        call(bus.get(), sessionManagerName, sessionManagerPath, sessionManagerName, "Uninhibit",
             g_variant_new("(u)", cookie));
    });
}

void onScreenSaverInhibit(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<HeldRef> held(static_cast<HeldRef*>(data));
    // No screen saver on this bus is not an error worth telling.
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (!reply) return;
    guint32 cookie = 0;
    g_variant_get(reply, "(u)", &cookie);
    GRef<GDBusConnection> bus = (*held)->bus;
    (*held)->granted([bus, cookie] {
        call(bus.get(), screenSaverName, screenSaverPath, screenSaverName, "UnInhibit",
             g_variant_new("(u)", cookie));
    });
}

// The X11 window the session manager may name when it lists what keeps it awake.
guint32 toplevelXid(GtkApplication* app) {
    GtkWindow* window = gtk_application_get_active_window(app);
    GdkWindow* gdkWindow = window ? gtk_widget_get_window(GTK_WIDGET(window)) : nullptr;
    if (!gdkWindow || !GDK_IS_X11_WINDOW(gdkWindow)) return 0;
    return static_cast<guint32>(gdk_x11_window_get_xid(gdkWindow));
}

}  // namespace

Activities::~Activities() {
    for (auto& [id, held] : held_) {
        (void)id;
        held->end();
    }
}

Token Activities::begin(const ActivityOptions& options, const std::string& reason) {
    auto held = std::make_shared<Held>();
    Token token{next_++};
    held_[token.id] = held;

    GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(app_));
    if (!bus) return token;
    held->bus = ref(bus);

    auto request = std::make_unique<Request>();
    request->held = held;
    const char* appId = g_application_get_application_id(G_APPLICATION(app_));
    request->appId = appId ? appId : "";
    request->window = toplevelXid(app_);
    request->reason = reason;
    if (options.idleSystemSleepDisabled) request->flags |= inhibitSuspend;
    if (options.idleDisplaySleepDisabled) request->flags |= inhibitIdle;
    GVariant* parameters = g_variant_new("(susu)", request->appId.c_str(), request->window,
                                         request->reason.c_str(), request->flags);
    // The pending call owns the request until its answer.
    g_dbus_connection_call(bus, sessionManagerName, sessionManagerPath, sessionManagerName, "Inhibit",
                           parameters, G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
                           nullptr, onSessionManagerInhibit, request.release());

    g_dbus_connection_call(bus, screenSaverName, screenSaverPath, screenSaverName, "Inhibit",
                           g_variant_new("(ss)", "Brindlemar", reason.c_str()), G_VARIANT_TYPE("(u)"),
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, onScreenSaverInhibit,
                           new HeldRef(held));
    return token;
}

void Activities::end(Token token) {
    auto it = held_.find(token.id);
    if (it == held_.end()) return;
    HeldRef held = it->second;
    held_.erase(it);
    held->end();
}

}  // namespace brindlemar::gtk
