#include "platform/gtk/gst_http_cookie.hpp"

#include <string>

namespace brindlemar::gtk {

namespace {

struct Origin {
    std::string scheme;
    std::string host;
    int port = -1;
    bool operator==(const Origin&) const = default;
};

bool parseOrigin(const char* uri, Origin& origin) {
    g_autoptr(GUri) parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr);
    if (!parsed || !g_uri_get_scheme(parsed) || !g_uri_get_host(parsed)) return false;
    g_autofree gchar* scheme = g_ascii_strdown(g_uri_get_scheme(parsed), -1);
    origin.scheme = scheme;
    origin.host = g_uri_get_host(parsed);
    origin.port = g_uri_get_port(parsed);
    if (origin.port < 0 && origin.scheme == "http") origin.port = 80;
    if (origin.port < 0 && origin.scheme == "https") origin.port = 443;
    return true;
}

struct SourceCookie {
    Origin origin;
    std::string pair;  // name=value, as the Cookie header carries it
};

// Runs on whichever thread the pipeline creates its source on; reads only data that
// never changes.
void onSourceSetup(GstElement*, GstElement* source, gpointer data) {
    const auto* cookie = static_cast<const SourceCookie*>(data);
    GObjectClass* type = G_OBJECT_GET_CLASS(source);
    if (!g_object_class_find_property(type, "cookies") ||
        !g_object_class_find_property(type, "location"))
        return;
    g_autofree gchar* location = nullptr;
    g_object_get(source, "location", &location, nullptr);
    Origin origin;
    if (!location || !parseOrigin(location, origin) || !(origin == cookie->origin)) return;
    const gchar* cookies[] = {cookie->pair.c_str(), nullptr};
    g_object_set(source, "cookies", cookies, nullptr);
}

void freeSourceCookie(gpointer data, GClosure*) { delete static_cast<SourceCookie*>(data); }

}  // namespace

void sendCookieWithHttpSources(GstElement* pipeline, const HttpCookie& cookie) {
    SourceCookie data;
    if (!parseOrigin(cookie.origin.c_str(), data.origin)) return;
    data.pair = cookie.name + "=" + cookie.value;
    // playbin announces the media's source with "source-setup", but the subtitle file's
    // source (in a decoder of its own) only with "element-setup", as one of every
    // element it adds. Each handler owns a copy, freed with the pipeline; no handler id
    // to keep, as nothing disconnects them earlier. Setting the cookie twice on the
    // media's source is harmless.
    for (const char* signal : {"source-setup", "element-setup"}) {
        if (!g_signal_lookup(signal, G_OBJECT_TYPE(pipeline))) continue;
        g_signal_connect_data(pipeline, signal, G_CALLBACK(onSourceSetup), new SourceCookie(data),
                              freeSourceCookie, GConnectFlags(0));
    }
}

}  // namespace brindlemar::gtk
