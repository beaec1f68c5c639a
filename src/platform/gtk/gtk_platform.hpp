#pragma once

#include <gtk/gtk.h>

#include <map>

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gtk_activity.hpp"
#include "platform/gtk/gtk_rendering.hpp"
#include "platform/platform.hpp"

namespace brindlemar::gtk {

// The real platform: GTK 3, WebKitGTK and GIO on the main context of one
// GtkApplication.
class GtkPlatform final : public Platform {
public:
    GtkPlatform(GtkApplication* app, RenderingPolicy rendering);
    ~GtkPlatform() override;
    // Once GTK has started (the application's "startup").
    void startup();

    void setMainMenu(const std::vector<Menu>& menus,
                     std::function<void(MenuAction)> chosen) override;
    std::unique_ptr<WebView> createWebView(const WebViewConfig& config,
                                           WebViewEvents events) override;
    std::unique_ptr<Window> createWindow(int width, int height,
                                         std::function<void()> closed) override;
    void activate() override;
    void quit() override;

    std::optional<std::string> resourcesDirectory() override;
    std::string userDataDirectory() override;
    Environment environment() override;

    std::unique_ptr<ChildProcess> launch(const ChildCommand& command, ChildEvents events) override;
    std::optional<std::string> randomBytes(std::size_t count) override;
    std::unique_ptr<Player> createPlayer(const std::string& url,
                                         std::chrono::seconds forwardBuffer,
                                         const std::string& subtitleUrl,
                                         const std::optional<HttpCookie>& cookie) override;
    std::unique_ptr<PlayerView> createPlayerView(View& content) override;
    std::unique_ptr<Panel> createPanel(const PanelConfig& config,
                                       std::function<bool(Panel&)> shouldClose) override;
    std::unique_ptr<View> createPlaceholder(const std::string& label, const std::string& buttonTitle,
                                            std::function<void()> action) override;
    std::optional<Token> addKeyDownMonitor(std::function<bool(const KeyDown&)> handler) override;
    void removeKeyDownMonitor(Token token) override;
    Token beginActivity(const ActivityOptions& options, const std::string& reason) override;
    void endActivity(Token token) override;
    void openUrl(const std::string& url) override;
    void loadPlayerPreferences(std::function<void(std::optional<PlayerPreferences>)> done) override;
    void savePlayerPreferences(const PlayerPreferences& preferences) override;
    std::unique_ptr<NowPlaying> publishNowPlaying(const NowPlayingInfo& info, NowPlayingCommands commands) override;
    void post(std::function<void()> work) override;
    void after(std::chrono::milliseconds delay, std::function<void()> work) override;

private:
    GtkApplication* app_;
    GRef<GMenuModel> menuBar_;
    std::function<void(MenuAction)> menuChosen_;
    RenderingPolicy rendering_;
    std::string installPrefix_;  // <directory of the executable>/..
    Activities activities_;
    std::map<std::uint64_t, std::function<bool(const KeyDown&)>> keyMonitors_;
    std::uint64_t nextKeyMonitor_ = 1;

    static void handleEvent(GdkEvent* event, gpointer data);
};

}  // namespace brindlemar::gtk
