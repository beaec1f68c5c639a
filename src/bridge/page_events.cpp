#include "bridge/page_events.hpp"

#include <charconv>
#include <cmath>

#include "shell/app_delegate.hpp"

namespace brindlemar {

std::string formatNumber(double value) {
    // The text goes into a script: what is not a finite number is written the way
    // the script language writes it, so that the script still runs.
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    char buffer[64];
    const double magnitude = std::fabs(value);
    if (magnitude >= 0.0001 && magnitude < 9007199254740992.0) {
        // Shortest round-trip digits in plain notation; whole values keep ".0".
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
        std::string text(buffer, end);
        if (text.find('.') == std::string::npos) text += ".0";
        return text;
    }
    // Shortest round-trip digits in exponent form, with at least two exponent digits.
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string text(buffer, end);
    std::size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);  // sign and digits, e.g. "-5" or "+20"
    char sign = exponent[0];
    std::string digits = exponent.substr(1);
    if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
    return mantissa + "e" + sign + digits;
}

std::string playerEventScript(const std::string& type, const std::string& extraFields) {
    std::string detail = "{type:'" + type + "'";
    if (!extraFields.empty()) detail += "," + extraFields;
    detail += "}";
    return "window.dispatchEvent(new CustomEvent('brindlemar-native-player',{detail:" + detail + "}))";
}

std::string pipStateScript(bool state) {
    const std::string v = state ? "true" : "false";
    return "window.BrindlemarNativePip = " + v +
           "; document.documentElement.classList.toggle('native-pip', " + v +
           "); window.dispatchEvent(new Event('brindlemar-pip-change'));";
}

void AppDelegate::nativeEvent(const std::string& type, const std::string& extraFields) {
    web->evaluateScript(playerEventScript(type, extraFields));
}

void AppDelegate::setPipState(bool state) {
    web->evaluateScript(pipStateScript(state));
}

}  // namespace brindlemar
