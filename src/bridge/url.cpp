#include "bridge/url.hpp"

namespace brindlemar {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(char c) {
    return c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' ||
           c == '+' || c == ',' || c == ';' || c == '=';
}

// Every character of `part` is allowed by `allowed`, or is a valid %XX escape.
template <typename Allowed>
bool wellFormed(std::string_view part, Allowed allowed) {
    for (std::size_t i = 0; i < part.size(); ++i) {
        char c = part[i];
        if (c == '%') {
            if (i + 2 >= part.size() || !isHex(part[i + 1]) || !isHex(part[i + 2])) return false;
            i += 2;
        } else if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

bool pathChar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '/'; }
bool queryChar(char c) { return pathChar(c) || c == '?'; }
bool userinfoChar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; }
bool regNameChar(char c) { return isUnreserved(c) || isSubDelim(c); }

bool parseAuthority(std::string_view authority, Url& url) {
    std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        if (!wellFormed(authority.substr(0, at), userinfoChar)) return false;
        authority.remove_prefix(at + 1);
    }
    std::string_view host;
    std::string_view rest;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = authority.substr(1, close - 1);
        for (char c : host)
            if (!isHex(c) && c != ':' && c != '.') return false;
        rest = authority.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
    } else {
        std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (!wellFormed(host, regNameChar)) return false;
        rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    }
    url.host = std::string(host);
    if (rest.size() > 1) {
        std::string_view digits = rest.substr(1);
        std::int64_t port = 0;
        for (char c : digits) {
            if (!isDigit(c)) return false;
            port = port * 10 + (c - '0');
            if (port > 65535) return false;
        }
        url.port = port;
    }
    return true;
}

}  // namespace

std::optional<Url> parseUrl(std::string_view text) {
    Url url;
    url.absoluteString = std::string(text);

    // Fragment and query first: they may hold characters that look like delimiters.
    std::string_view rest = text;
    if (std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        if (!wellFormed(rest.substr(hash + 1), queryChar)) return std::nullopt;
        rest = rest.substr(0, hash);
    }
    if (std::size_t question = rest.find('?'); question != std::string_view::npos) {
        if (!wellFormed(rest.substr(question + 1), queryChar)) return std::nullopt;
        rest = rest.substr(0, question);
    }

    // Scheme: a letter, then letters, digits, "+", "-" or ".", before the first ":".
    std::size_t colon = rest.find(':');
    std::size_t slash = rest.find('/');
    if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
        std::string_view scheme = rest.substr(0, colon);
        bool valid = !scheme.empty() && isAlpha(scheme.front());
        for (char c : scheme) valid = valid && (isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.');
        if (!valid) return std::nullopt;
        url.scheme = std::string(scheme);
        rest.remove_prefix(colon + 1);
    }

    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        std::size_t end = rest.find('/');
        std::string_view authority = rest.substr(0, end);
        if (!parseAuthority(authority, url)) return std::nullopt;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    if (!wellFormed(rest, pathChar)) return std::nullopt;
    return url;
}

bool isServiceOrigin(const Url& url) {
    return url.host && *url.host == "127.0.0.1" && url.port && *url.port == 47874 && url.scheme &&
           *url.scheme == "http";
}

}  // namespace brindlemar
