// The floating mini-player panel that takes the whole library page.
#include "shell/app_delegate.hpp"

namespace brindlemar {

void AppDelegate::enterPip() {}

void AppDelegate::leavePip() {}

void AppDelegate::restorePip() {
    leavePip();
}

}  // namespace brindlemar
