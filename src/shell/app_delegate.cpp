#include "shell/app_delegate.hpp"

#include "shell/messages.hpp"
#include "shell/resources.hpp"

namespace brindlemar {

const std::string AppDelegate::awakeScript{resources::wakeScript};

void AppDelegate::applicationDidFinishLaunching() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    platform_.setMainMenu(
        {
        Menu{"", "", {{"Salir de Brindlemar", MenuAction::Quit, "q"}}},
        Menu{"Editar",
             "Editar",
             {{"Copiar", MenuAction::Copy, "c"},
              {"Pegar", MenuAction::Paste, "v"},
              {"Cortar", MenuAction::Cut, "x"},
              {"Seleccionar todo", MenuAction::SelectAll, "a"}}},
        },
        [weak](MenuAction action) {
            if (auto self = weak.lock()) self->performMenuAction(action);
        });

    WebViewConfig config;
    config.mediaRequiresUserAction = false;
    config.messageHandlers = {"brindlemarPip", "brindlemarPlayer", "brindlemarRetry"};
    config.userScripts.push_back(UserScript{awakeScript, true, true});

    WebViewEvents events;
    events.scriptMessage = [weak](const PageMessage& message) {
        if (auto self = weak.lock()) self->didReceiveScriptMessage(message);
    };
    events.decidePolicy = [weak](const NavigationAction& action) {
        auto self = weak.lock();
        return self && self->decidePolicyForNavigationAction(action);
    };
    events.createWebView = [weak](const NavigationAction& action) {
        if (auto self = weak.lock()) self->createWebViewForNavigationAction(action);
    };
    events.webProcessTerminated = [weak] {
        if (auto self = weak.lock()) self->webProcessTerminated();
    };
    web = platform_.createWebView(config, std::move(events));
    web->setInspectable(false);

    window = platform_.createWindow(1280, 800, [weak] {
        if (auto self = weak.lock()) self->mainWindowClosed();
    });
    window->setTitle("Brindlemar");
    window->setMinSize(800, 600);
    window->setContentView(*web);
    window->center();
    window->makeKeyAndOrderFront();
    platform_.activate();

    show(messages::preparing, false);
    startBackend();

    // The volume and mute the player had last time; playback may begin before they come.
    platform_.loadPlayerPreferences([weak](std::optional<PlayerPreferences> stored) {
        if (auto self = weak.lock()) self->playerPreferencesLoaded(std::move(stored));
    });
}

AppDelegate::~AppDelegate() {
    if (player || playerView) stopNative(false);
    if (awake) {
        platform_.endActivity(*awake);
        awake.reset();
    }
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() const {
    if (playerView) return false;
    return !pipWindow;
}

void AppDelegate::applicationWillTerminate() {
    stopping = true;
    if (backend) backend->terminate();
}

void AppDelegate::terminate() {
    if (!stopping) applicationWillTerminate();
    platform_.quit();
}

void AppDelegate::mainWindowClosed() {
    if (applicationShouldTerminateAfterLastWindowClosed()) terminate();
}

void AppDelegate::reopen() {
    if (window) window->makeKeyAndOrderFront();
}

void AppDelegate::performMenuAction(MenuAction action) {
    if (action == MenuAction::Quit) {
        terminate();
    } else if (web) {
        web->performEdit(action);
    }
}

}  // namespace brindlemar
