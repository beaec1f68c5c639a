// One system activity that keeps the machine awake, held while a video plays
// natively or in the page.
#include "shell/app_delegate.hpp"

namespace brindlemar {

namespace {
constexpr const char* awakeReason = "Reproducción en curso";
}

void AppDelegate::updateAwake() {
    if (awakeNative || awakeWeb) {
        if (awake) return;
        awake = platform_.beginActivity(ActivityOptions{true, true}, awakeReason);
    } else {
        if (!awake) return;
        platform_.endActivity(*awake);
        awake.reset();
    }
}

}  // namespace brindlemar
