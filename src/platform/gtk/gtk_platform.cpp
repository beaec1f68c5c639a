#include "platform/gtk/gtk_platform.hpp"

#include "platform/gtk/gtk_player_preferences.hpp"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "platform/gtk/mpv_player.hpp"
#include "platform/gtk/gtk_child_process.hpp"
#include "platform/gtk/gtk_desktop_identity.hpp"
#include "platform/gtk/gtk_main_window.hpp"
#include "platform/gtk/gtk_mpris.hpp"
#include "platform/gtk/gtk_panel.hpp"
#include "platform/gtk/gtk_player_view.hpp"
#include "platform/gtk/gtk_web_view.hpp"

namespace brindlemar::gtk {

namespace {

struct ActionName {
    MenuAction action;
    const char* name;
};
constexpr ActionName actionNames[] = {
    {MenuAction::Quit, "quit"},
    {MenuAction::Copy, "copy"},
    {MenuAction::Paste, "paste"},
    {MenuAction::Cut, "cut"},
    {MenuAction::SelectAll, "select-all"},
};

const char* nameOf(MenuAction action) {
    for (const auto& entry : actionNames)
        if (entry.action == action) return entry.name;
    return "";
}

std::string executableDirectory() {
    g_autoptr(GError) error = nullptr;
    g_autofree char* exe = g_file_read_link("/proc/self/exe", &error);
    if (!exe) return {};
    g_autofree char* dir = g_path_get_dirname(exe);
    return dir;
}

gboolean runWork(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void freeWork(gpointer data) {
    delete static_cast<std::function<void()>*>(data);
}

}  // namespace

GtkPlatform::GtkPlatform(GtkApplication* app, RenderingPolicy rendering)
    : app_(app), rendering_(std::move(rendering)), activities_(app) {
    setProgramIdentity();
    std::string dir = executableDirectory();
    if (!dir.empty()) {
        g_autofree char* prefix = g_canonicalize_filename("..", dir.c_str());
        installPrefix_ = prefix;
    }
}

GtkPlatform::~GtkPlatform() {
    gdk_event_handler_set([](GdkEvent* event, gpointer) { gtk_main_do_event(event); }, nullptr, nullptr);
}

void GtkPlatform::startup() {
    // Every event of every window passes here first, so key monitors see key
    // presses before any widget does. GTK sets its own handler when it starts,
    // so this comes after.
    gdk_event_handler_set(handleEvent, this, nullptr);
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_set(settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
    useApplicationIcon(installPrefix_);
}

void GtkPlatform::handleEvent(GdkEvent* event, gpointer data) {
    auto* self = static_cast<GtkPlatform*>(data);
    // An open menu or popover holds the keyboard and takes its own keys first: Escape
    // there closes it, as everywhere else on the desktop.
    if (event->type == GDK_KEY_PRESS && !self->keyMonitors_.empty() && !gtk_grab_get_current()) {
        KeyDown key{event->key.keyval == GDK_KEY_Escape};
        // A monitor may remove itself (or others) while it runs.
        auto monitors = self->keyMonitors_;
        for (auto& [id, monitor] : monitors) {
            if (self->keyMonitors_.count(id) && monitor(key)) return;
        }
    }
    gtk_main_do_event(event);
}

std::unique_ptr<PlayerView> GtkPlatform::createPlayerView(View& content) {
    return gtk::createPlayerView(content);
}

std::unique_ptr<Panel> GtkPlatform::createPanel(const PanelConfig& config,
                                                std::function<bool(Panel&)> shouldClose) {
    return gtk::createPanel(config, std::move(shouldClose));
}

std::unique_ptr<View> GtkPlatform::createPlaceholder(const std::string& label, const std::string& buttonTitle,
                                                     std::function<void()> action) {
    return gtk::createPlaceholder(label, buttonTitle, std::move(action));
}

std::optional<Token> GtkPlatform::addKeyDownMonitor(std::function<bool(const KeyDown&)> handler) {
    Token token{nextKeyMonitor_++};
    keyMonitors_[token.id] = std::move(handler);
    return token;
}

void GtkPlatform::removeKeyDownMonitor(Token token) {
    keyMonitors_.erase(token.id);
}

Token GtkPlatform::beginActivity(const ActivityOptions& options, const std::string& reason) {
    return activities_.begin(options, reason);
}

void GtkPlatform::endActivity(Token token) {
    activities_.end(token);
}

void GtkPlatform::openUrl(const std::string& url) {
    // Finding and starting the browser may take a while; the main loop goes on.
    // Whether it opened is not reported.
    g_app_info_launch_default_for_uri_async(
        url.c_str(), nullptr, nullptr,
        [](GObject*, GAsyncResult* result, gpointer) {
            g_app_info_launch_default_for_uri_finish(result, nullptr);
        },
        nullptr);
}

void GtkPlatform::loadPlayerPreferences(std::function<void(std::optional<PlayerPreferences>)> done) {
    loadPlayerPreferencesFrom(playerPreferencesPath(g_get_user_config_dir()), std::move(done));
}

void GtkPlatform::savePlayerPreferences(const PlayerPreferences& preferences) {
    savePlayerPreferencesTo(playerPreferencesPath(g_get_user_config_dir()), preferences);
}

std::unique_ptr<NowPlaying> GtkPlatform::publishNowPlaying(const NowPlayingInfo& info, NowPlayingCommands commands) {
    return publishMpris(info, std::move(commands));
}

void GtkPlatform::setMainMenu(const std::vector<Menu>& menus,
                              std::function<void(MenuAction)> chosen) {
    menuChosen_ = std::move(chosen);
    auto bar = adopt(g_menu_new());
    for (const Menu& menu : menus) {
        auto section = adopt(g_menu_new());
        for (const MenuItem& item : menu.items) {
            std::string detailed = std::string("app.") + nameOf(item.action);
            g_menu_append(section.get(), item.title.c_str(), detailed.c_str());
            if (!g_action_map_lookup_action(G_ACTION_MAP(app_), nameOf(item.action))) {
                auto action = adopt(g_simple_action_new(nameOf(item.action), nullptr));
                g_signal_connect(action.get(), "activate",
                                 G_CALLBACK(+[](GSimpleAction* a, GVariant*, gpointer data) {
                                     auto* self = static_cast<GtkPlatform*>(data);
                                     const char* name = g_action_get_name(G_ACTION(a));
                                     for (const auto& entry : actionNames)
                                         if (g_strcmp0(entry.name, name) == 0 && self->menuChosen_)
                                             self->menuChosen_(entry.action);
                                 }),
                                 this);
                g_action_map_add_action(G_ACTION_MAP(app_), G_ACTION(action.get()));
            }
            std::string accel = "<Primary>" + item.key;
            const char* accels[] = {accel.c_str(), nullptr};
            gtk_application_set_accels_for_action(app_, detailed.c_str(), accels);
        }
        // A menu without a title of its own (the application menu) still needs a
        // label in a GTK menu bar: it carries the product name.
        const std::string& label = menu.itemTitle.empty() ? std::string("Brindlemar") : menu.itemTitle;
        g_menu_append_submenu(bar.get(), label.c_str(), G_MENU_MODEL(section.get()));
    }
    menuBar_ = ref(G_MENU_MODEL(bar.get()));
}

std::unique_ptr<WebView> GtkPlatform::createWebView(const WebViewConfig& config,
                                                    WebViewEvents events) {
    return gtk::createWebView(config, std::move(events), installPrefix_ + "/lib/brindlemar",
                              rendering_.disableInSettings());
}

std::unique_ptr<Window> GtkPlatform::createWindow(int width, int height,
                                                  std::function<void()> closed) {
    return createMainWindow(app_, menuBar_.get(), width, height, std::move(closed));
}

void GtkPlatform::activate() {
    // Presenting the main window already raises the application on X11 and Wayland.
}

void GtkPlatform::quit() {
    g_application_quit(G_APPLICATION(app_));
}

std::optional<std::string> GtkPlatform::resourcesDirectory() {
    if (installPrefix_.empty()) return std::nullopt;
    std::string dir = installPrefix_ + "/share/brindlemar";
    if (!g_file_test(dir.c_str(), G_FILE_TEST_IS_DIR)) return std::nullopt;
    return dir;
}

std::string GtkPlatform::userDataDirectory() {
    return g_get_user_data_dir();
}

Environment GtkPlatform::environment() {
    Environment env;
    g_auto(GStrv) entries = g_get_environ();
    for (char** entry = entries; entry && *entry; ++entry) {
        const char* eq = strchr(*entry, '=');
        if (!eq) continue;
        env.emplace_back(std::string(*entry, static_cast<std::size_t>(eq - *entry)), std::string(eq + 1));
    }
    return env;
}

std::unique_ptr<ChildProcess> GtkPlatform::launch(const ChildCommand& command, ChildEvents events) {
    return launchChild(command, std::move(events));
}

std::optional<std::string> GtkPlatform::randomBytes(std::size_t count) {
    // getrandom blocks only until the kernel's generator is first seeded, long before
    // a desktop session exists; reads of up to 256 bytes are never cut short.
    std::string bytes(count, '\0');
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got = getrandom(bytes.data() + filled, count - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        filled += static_cast<std::size_t>(got);
    }
    return bytes;
}

std::unique_ptr<Player> GtkPlatform::createPlayer(const std::string& url,
                                                  std::chrono::seconds forwardBuffer,
                                                  const std::string& subtitleUrl,
                                                  const std::optional<HttpCookie>& cookie) {
    const VideoOutput output =
        rendering_.videoRenderer() == VideoRenderer::OpenGL ? VideoOutput::OpenGL : VideoOutput::Software;
    return createMpvPlayer(url, forwardBuffer, subtitleUrl, cookie, output);
}

void GtkPlatform::post(std::function<void()> work) {
    g_idle_add_full(G_PRIORITY_DEFAULT, runWork, new std::function<void()>(std::move(work)), freeWork);
}

void GtkPlatform::after(std::chrono::milliseconds delay, std::function<void()> work) {
    g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(delay.count()), runWork,
                       new std::function<void()>(std::move(work)), freeWork);
}

}  // namespace brindlemar::gtk
