#include "shell/app_delegate.hpp"

namespace brindlemar {

void AppDelegate::updateAwake() {}

}  // namespace brindlemar
