// The secret that locks the library service to this shell for one launch: the
// service refuses every request without it, the shell hands it to the service in its
// environment and to the web view and the native player as a cookie.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.hpp"

namespace brindlemar {

inline constexpr const char* serviceSecretVariable = "BRINDLEMAR_TOKEN";
inline constexpr const char* serviceCookieName = "brindlemar_token";
inline constexpr std::size_t serviceSecretBytes = 32;  // 256 bits

// Lower-case hexadecimal: safe in an environment variable and a cookie value.
std::string hexEncode(const std::string& bytes);

// The cookie that carries `secret` to the service origin: HttpOnly, SameSite=Strict,
// path "/".
HttpCookie serviceCookie(const std::string& secret);

}  // namespace brindlemar
