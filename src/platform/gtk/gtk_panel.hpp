#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

std::unique_ptr<Panel> createPanel(const PanelConfig& config, std::function<bool(Panel&)> shouldClose);

std::unique_ptr<View> createPlaceholder(const std::string& label, const std::string& buttonTitle,
                                        std::function<void()> action);

}  // namespace brindlemar::gtk
