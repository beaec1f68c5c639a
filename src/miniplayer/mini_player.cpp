// The floating mini-player panel that takes the whole library page, and any
// native playback laid over it.
#include "shell/app_delegate.hpp"

namespace brindlemar {

void AppDelegate::enterPip() {
    if (pipWindow) return;
    if (!window || !web) return;

    std::weak_ptr<AppDelegate> weak = weak_from_this();
    PanelConfig config;
    config.title = "Brindlemar \u00b7 Miniatura";
    std::unique_ptr<Panel> panel = platform_.createPanel(config, [weak](Panel& closing) {
        auto self = weak.lock();
        return !self || self->windowShouldClose(closing);
    });
    std::unique_ptr<View> placeholder =
        platform_.createPlaceholder("Reproduciendo en miniatura", "Volver a la ventana", [weak] {
            if (auto self = weak.lock()) self->restorePip();
        });

    window->setContentView(std::move(placeholder));
    panel->setContentView(*web);
    pipWindow = std::move(panel);
    pipWindow->moveToBottomRight(*window, 24, 24);
    setPipState(true);
    pipWindow->orderFrontRegardless();
}

void AppDelegate::leavePip() {
    if (!pipWindow) return;

    window->setContentView(*web);
    // Playback started while the page was in the panel lies over the placeholder,
    // which is no longer shown: carry it over onto the page.
    if (playerView) playerView->moveOver(*web);
    std::unique_ptr<Panel> panel = std::move(pipWindow);
    panel->close();
    setPipState(false);
    window->makeKeyAndOrderFront();
}

void AppDelegate::restorePip() {
    leavePip();
}

bool AppDelegate::windowShouldClose(Panel& panel) {
    if (pipWindow && &panel == pipWindow.get()) {
        leavePip();
        return false;
    }
    return true;
}

}  // namespace brindlemar
