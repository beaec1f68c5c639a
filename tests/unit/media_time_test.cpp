#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/media_time.hpp"

namespace brindlemar {
namespace {

constexpr double largest = std::numeric_limits<double>::max();
constexpr double subnormal = std::numeric_limits<double>::denorm_min();

TEST(MediaTime, SeekTicksStayInRange) {
    const std::int64_t latest = 600'000'000'000;
    const std::pair<double, std::optional<std::int64_t>> cases[] = {
        {90.0, 54000}, {1.5, 900}, {12.5, 7500},
        {1.0 / 1200, 1}, {0.4 / 600, 0},  // to the nearest tick
        {0.0, 0}, {-0.0, 0}, {subnormal, 0}, {-subnormal, 0}, {-5.0, 0}, {-INFINITY, 0},
        {1e9, latest}, {1e9 + 1, latest}, {5.38832e+301, latest}, {1e308, latest}, {largest, latest},
        {INFINITY, latest},
        {NAN, std::nullopt}, {-NAN, std::nullopt},
    };
    for (const auto& [seconds, ticks] : cases) EXPECT_EQ(seekTicks(seconds), ticks) << seconds;
    // The latest target still fits in nanoseconds.
    EXPECT_LT(latestSeekSeconds * 1e9, static_cast<double>(std::numeric_limits<std::int64_t>::max()));
}

TEST(MediaTime, WholeMicroseconds) {
    const std::int64_t most = 9'200'000'000'000'000'000;
    const std::pair<double, std::int64_t> cases[] = {
        {12.5, 12'500'000}, {3600.0, 3'600'000'000}, {1.0 / 3, 333'333}, {-2.5, -2'500'000},
        {0.0, 0}, {-0.0, 0}, {subnormal, 0}, {NAN, 0}, {INFINITY, 0}, {-INFINITY, 0},
        {1e308, most}, {largest, most}, {-1e308, -most}, {5.38832e+301, most},
    };
    for (const auto& [seconds, micro] : cases) EXPECT_EQ(wholeMicroseconds(seconds), micro) << seconds;
}

TEST(MediaTime, ClockText) {
    const std::pair<double, const char*> cases[] = {
        {0.0, "0:00"}, {59.9, "0:59"}, {61.0, "1:01"}, {3599.0, "59:59"}, {3600.0, "1:00:00"},
        {3723.5, "1:02:03"}, {360000.0, "100:00:00"},
        {-0.0, "0:00"}, {-5.0, "0:00"}, {subnormal, "0:00"},
        {NAN, "0:00"}, {INFINITY, "0:00"}, {-INFINITY, "0:00"},  // unknown
        {1e308, "277777:46:40"}, {largest, "277777:46:40"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(clockText(seconds), text) << seconds;
}

}  // namespace
}  // namespace brindlemar
