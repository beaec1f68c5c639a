#include "player/player_steps.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/platform.hpp"

namespace brindlemar {

namespace {

// Values closer than this to a menu speed are that speed (a player may report
// 1.2500000001 for 1.25).
constexpr double rateTolerance = 1e-6;

// Rounds to a number of decimals, so that repeated steps do not drift (0.1 + 0.2).
double rounded(double value, double scale) {
    return std::round(value * scale) / scale;
}

}  // namespace

const std::vector<double>& playbackRates() {
    static const std::vector<double> rates = {0.5, 0.75, 1.0, 1.25, 1.5, 2.0};
    return rates;
}

double nextRate(double current, int direction) {
    const std::vector<double>& rates = playbackRates();
    if (!std::isfinite(current)) return 1.0;
    if (direction > 0) {
        for (double rate : rates)
            if (rate > current + rateTolerance) return rate;
        return rates.back();
    }
    if (direction < 0) {
        for (auto rate = rates.rbegin(); rate != rates.rend(); ++rate)
            if (*rate < current - rateTolerance) return *rate;
        return rates.front();
    }
    return std::clamp(current, rates.front(), rates.back());
}

double stepVolume(double current, int direction) {
    if (!std::isfinite(current)) current = 1.0;
    const double step = direction > 0 ? 0.05 : direction < 0 ? -0.05 : 0.0;
    return std::clamp(rounded(current + step, 100), 0.0, Player::maxVolume);
}

double stepDelay(double current, int direction) {
    if (!std::isfinite(current)) current = 0.0;
    const double step = direction > 0 ? 0.1 : direction < 0 ? -0.1 : 0.0;
    const double delay = rounded(current + step, 1000);
    return delay == 0 ? 0.0 : delay;  // never "-0"
}

double stepSubtitleScale(double current, int direction) {
    if (!std::isfinite(current)) current = 1.0;
    const double step = direction > 0 ? 0.1 : direction < 0 ? -0.1 : 0.0;
    return std::clamp(rounded(current + step, 100), 0.5, 2.0);
}

PlayerPreferences usablePlayerPreferences(PlayerPreferences stored) {
    // An infinite volume is as damaged as a missing one: the normal level, not the loudest.
    if (!std::isfinite(stored.volume)) stored.volume = 1.0;
    stored.volume = std::clamp(stored.volume, 0.0, Player::maxVolume);
    return stored;
}

std::string rateLabel(double rate) {
    if (!std::isfinite(rate)) rate = 1.0;
    // Written without the locale: two decimals at most, trailing zeros dropped, a comma.
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, rounded(rate, 100), std::chars_format::fixed, 2);
    std::string text(buffer, end);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    std::replace(text.begin(), text.end(), '.', ',');
    return text + "\u00d7";
}

std::string delayLabel(double seconds) {
    // A day either way is more than any delay; the bound keeps the arithmetic exact.
    const long long ms = std::isfinite(seconds) ? std::llround(std::clamp(seconds, -86400.0, 86400.0) * 1000) : 0;
    if (ms == 0) return "0 ms";
    return (ms > 0 ? "+" : "\u2212") + std::to_string(ms > 0 ? ms : -ms) + " ms";
}

std::string percentLabel(double share) {
    const long long percent = std::isfinite(share) ? std::llround(std::clamp(share, -1e6, 1e6) * 100) : 0;
    return std::to_string(percent) + " %";
}

}  // namespace brindlemar
