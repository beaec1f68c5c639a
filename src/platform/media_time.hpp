// Media times in whole units. A time that comes from the page (a seek target, a
// resume position) can be any double, NaN, the infinities and 1e308 included; these
// turn such a time into integers without ever leaving the range of the integer type.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace brindlemar {

// Seek targets are made to the nearest 1/600 s.
inline constexpr std::int64_t seekTicksPerSecond = 600;

// Latest seek target, in seconds: long past the end of any media (about 31 years),
// and small enough that it fits in 64 bits in ticks and in nanoseconds alike.
inline constexpr double latestSeekSeconds = 1e9;

// The target of a seek in ticks of 1/600 s: nothing for NaN, which is no time at all;
// the start for anything before it (negative times, -0, -Infinity, subnormals round
// to it); and the latest target for anything past that (Infinity, 1e308), which a
// player takes as the end of the media.
inline std::optional<std::int64_t> seekTicks(double seconds) {
    if (std::isnan(seconds)) return std::nullopt;
    return std::llround(std::clamp(seconds, 0.0, latestSeekSeconds) * seekTicksPerSecond);
}

// A media time in whole microseconds, as the desktop's media controls carry it: 0 for
// a time that is not one (NaN, the infinities), and held within the 64-bit range
// whatever the media reported.
inline std::int64_t wholeMicroseconds(double seconds) {
    if (!std::isfinite(seconds)) return 0;
    return std::llround(std::clamp(seconds * 1e6, -9.2e18, 9.2e18));
}

// A time as the player controls show it: "m:ss", or "h:mm:ss" from an hour on,
// counting whole seconds. A time that is unknown or not one (NaN, the infinities,
// negative) shows as 0:00; a finite time past the latest seek target shows as that.
inline std::string clockText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    const auto total = static_cast<std::int64_t>(std::min(seconds, latestSeekSeconds));
    const auto h = total / 3600, m = total / 60 % 60, s = total % 60;
    char text[32];
    if (h > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(h),
                      static_cast<long long>(m), static_cast<long long>(s));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(m),
                      static_cast<long long>(s));
    }
    return text;
}

}  // namespace brindlemar
