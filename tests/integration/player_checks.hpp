// Checks on a player's media selection and its HTTP requests, shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "harness.hpp"

namespace brindlemar::test {

// What the application asks of every player.
inline constexpr auto forwardBuffer = std::chrono::seconds(30);

inline std::optional<std::string> tag(const char* value) {
    return std::string(value);
}

inline std::vector<std::optional<std::string>> tagsOf(const std::optional<std::vector<MediaOption>>& options) {
    std::vector<std::optional<std::string>> tags;
    if (options)
        for (const auto& option : *options) tags.push_back(option.extendedLanguageTag);
    return tags;
}

inline std::size_t indexOfTag(const std::vector<MediaOption>& options, const std::string& wanted) {
    auto it = std::find_if(options.begin(), options.end(), [&](const MediaOption& option) {
        return !option.external && option.extendedLanguageTag == wanted;
    });
    EXPECT_NE(it, options.end()) << "no option tagged " << wanted;
    return static_cast<std::size_t>(it - options.begin());
}

inline std::vector<std::size_t> externalOptions(const std::vector<MediaOption>& options) {
    std::vector<std::size_t> external;
    for (std::size_t i = 0; i < options.size(); ++i)
        if (options[i].external) external.push_back(i);
    return external;
}

// The language tag of the option the player reports as current; nothing when that
// kind is off.
inline std::optional<std::string> currentTrackLanguageOf(Player& player, MediaCharacteristic characteristic) {
    const auto index = player.selectedMediaOption(characteristic);
    const auto item = player.currentItem();
    const auto options = item ? item->mediaSelectionOptions(characteristic) : std::nullopt;
    if (!index || !options || *index >= options->size()) return std::nullopt;
    return (*options)[*index].extendedLanguageTag.value_or("(untagged)");
}

// The player answers from what mpv reports, which follows a choice shortly, not
// necessarily at once.
inline ::testing::AssertionResult trackBecomes(Player& player, MediaCharacteristic characteristic,
                                               std::optional<std::string> language) {
    if (spinUntil([&] { return currentTrackLanguageOf(player, characteristic) == language; }, 10s))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "current " << (characteristic == MediaCharacteristic::Audible ? "audio" : "subtitle")
           << " track is " << currentTrackLanguageOf(player, characteristic).value_or("none") << ", wanted "
           << language.value_or("none");
}

// The cookie the application gives its players, for `origin`.
inline HttpCookie serviceCookie(const std::string& origin) {
    HttpCookie cookie;
    cookie.name = "brindlemar_token";
    cookie.value = "0123abcd";
    cookie.origin = origin;
    return cookie;
}

// Whether a request head carries that cookie.
inline bool carriesCookie(const std::string& head) {
    std::size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        const std::string line = head.substr(at, head.find("\r\n", at) - at);
        std::string name = line.substr(0, line.find(':'));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (name == "cookie" && line.find("brindlemar_token=0123abcd") != std::string::npos) return true;
    }
    return false;
}

}  // namespace brindlemar::test
