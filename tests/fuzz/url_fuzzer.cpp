// Two parsers decide origin questions: the shell's own (which URL may be played,
// where a navigation may go) and GLib's, which the web process extension uses for the
// origin of the frame that posts a message. Wherever both read an absolute URL they
// must agree on what they share: the scheme, the host and the port written.
//
// Known differences, on purpose and pinned in the URL unit tests: the shell keeps the
// scheme as written (so "HTTP:" is not the service's) and takes the host as written,
// escapes and all, where GLib lowercases the scheme and decodes the host. Both only
// ever make the shell refuse a URL that GLib would call the service's.
#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bridge/url.hpp"

using namespace brindlemar;

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = g_ascii_tolower(c);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos) return 0;  // not a C string: GLib cannot be asked
    std::optional<Url> ours = parseUrl(text);
    g_autoptr(GUri) theirs = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!ours || !theirs || !ours->scheme) return 0;

    const char* host = g_uri_get_host(theirs);
    const bool hostEscaped = ours->host && ours->host->find('%') != std::string::npos;
    if (lower(*ours->scheme) != g_uri_get_scheme(theirs)) std::abort();
    if (ours->host.has_value() != (host != nullptr)) std::abort();
    if (host && !hostEscaped && *ours->host != host) std::abort();
    if (ours->port.value_or(-1) != g_uri_get_port(theirs)) std::abort();

    // The question that matters: the shell never calls a URL the service's that GLib
    // places elsewhere.
    const bool glibSaysService = g_strcmp0(g_uri_get_scheme(theirs), "http") == 0 &&
                                 g_strcmp0(host, "127.0.0.1") == 0 && g_uri_get_port(theirs) == 47874;
    if (isServiceOrigin(*ours) && !glibSaysService) std::abort();
    return 0;
}
