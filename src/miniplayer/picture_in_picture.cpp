// The picture-in-picture window's reports: the in-window player view hides while
// the video plays in that window, and shows again when it comes back.
#include "shell/app_delegate.hpp"

namespace brindlemar {

bool AppDelegate::playerViewShouldAutomaticallyDismissAtPictureInPictureStart(PlayerView&) {
    return false;
}

void AppDelegate::playerViewDidStartPictureInPicture(PlayerView& view) {
    view.setHidden(true);
    if (window) window->makeKeyAndOrderFront();
}

void AppDelegate::playerViewDidStopPictureInPicture(PlayerView& view) {
    view.setHidden(false);
}

void AppDelegate::playerViewRestoreUserInterfaceForPictureInPictureStop(
    PlayerView& view, const std::function<void(bool)>& completion) {
    view.setHidden(false);
    if (window) window->makeKeyAndOrderFront();
    completion(true);
}

}  // namespace brindlemar
