// URLs as the shell judges them: a strict parse into scheme, host and port, and
// the test that tells whether a URL lies on the library service's origin.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindlemar {

struct Url {
    std::string absoluteString;          // the text as given
    std::optional<std::string> scheme;   // as written (case kept)
    std::optional<std::string> host;     // as written; without brackets for IP literals
    std::optional<std::int64_t> port;    // only when written explicitly
};

// Parses an absolute URL or a relative reference. Nothing for text that is not
// a well-formed URL: spaces, control or other disallowed characters, a bad
// percent escape, a port that is not all digits or out of range.
std::optional<Url> parseUrl(std::string_view text);

// The host is present and "127.0.0.1", the port is written and 47874, and the
// scheme is present and "http", each compared exactly.
bool isServiceOrigin(const Url& url);

inline constexpr const char* serviceOrigin = "http://127.0.0.1:47874";

}  // namespace brindlemar
