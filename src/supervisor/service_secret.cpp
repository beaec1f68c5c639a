#include "supervisor/service_secret.hpp"

#include "bridge/url.hpp"

namespace brindlemar {

std::string hexEncode(const std::string& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}

HttpCookie serviceCookie(const std::string& secret) {
    HttpCookie cookie;
    cookie.name = serviceCookieName;
    cookie.value = secret;
    cookie.origin = serviceOrigin;
    cookie.path = "/";
    cookie.httpOnly = true;
    cookie.sameSiteStrict = true;
    return cookie;
}

}  // namespace brindlemar
