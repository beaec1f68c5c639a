// Loaded by WebKit into each web content process. In every frame it defines
// window.webkit.messageHandlers.<name>.postMessage for the handler names the UI
// process registered, and forwards each posted value to the UI process together
// with what the UI process needs to judge the sender: whether the posting frame is
// the main frame, and the host and port of the frame's origin.
#include <webkit2/webkit-web-extension.h>

#include <memory>
#include <string>
#include <vector>

#include "webext/page_message_wire.hpp"

namespace {

WebKitWebExtension* theExtension = nullptr;
std::vector<std::string> handlerNames;

constexpr int maxBodyDepth = 8;

struct PostTarget {
    std::string handler;
    GWeakRef frame;
    guint64 pageId;
};

void freePostTarget(gpointer data) {
    auto* target = static_cast<PostTarget*>(data);
    g_weak_ref_clear(&target->frame);
    delete target;
}

GVariant* validString(const char* text) {
    if (g_utf8_validate(text, -1, nullptr)) return g_variant_new_string(text);
    g_autofree char* fixed = g_utf8_make_valid(text, -1);
    return g_variant_new_string(fixed);
}

bool isPlainObject(JSCValue* value) {
    return jsc_value_is_object(value) && !jsc_value_is_array(value) &&
           !jsc_value_is_function(value) && !jsc_value_is_array_buffer(value) &&
           !jsc_value_is_typed_array(value);
}

GVariant* encodeBody(JSCValue* value, int depth) {
    if (jsc_value_is_string(value)) {
        g_autofree char* text = jsc_value_to_string(value);
        return validString(text ? text : "");
    }
    if (jsc_value_is_number(value)) return g_variant_new_double(jsc_value_to_double(value));
    if (jsc_value_is_boolean(value)) return g_variant_new_boolean(jsc_value_to_boolean(value));
    if (isPlainObject(value) && depth < maxBodyDepth) {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
        g_auto(GStrv) keys = jsc_value_object_enumerate_properties(value);
        JSCContext* context = jsc_value_get_context(value);
        for (char** key = keys; key && *key; ++key) {
            g_autoptr(JSCValue) member = jsc_value_object_get_property(value, *key);
            if (jsc_context_get_exception(context)) {
                // A getter that throws makes its key an unreadable value.
                jsc_context_clear_exception(context);
                g_variant_builder_add(&builder, "{sv}", *key,
                                      g_variant_new_tuple(nullptr, 0));
                continue;
            }
            if (!g_utf8_validate(*key, -1, nullptr)) continue;
            g_variant_builder_add(&builder, "{sv}", *key, encodeBody(member, depth + 1));
        }
        return g_variant_builder_end(&builder);
    }
    return g_variant_new_tuple(nullptr, 0);
}

// Host and port of a frame's origin, from its address. Documents without a host
// (about:blank, about:srcdoc, data:) give an empty host; a port that the address
// does not write explicitly gives 0.
void frameOrigin(WebKitFrame* frame, std::string& host, gint64& port) {
    host.clear();
    port = 0;
    const char* uri = webkit_frame_get_uri(frame);
    if (!uri) return;
    g_autoptr(GUri) parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr);
    if (!parsed) return;
    if (const char* h = g_uri_get_host(parsed)) host = h;
    if (g_uri_get_port(parsed) > 0) port = g_uri_get_port(parsed);
}

void onPostMessage(JSCValue* body, gpointer data) {
    auto* target = static_cast<PostTarget*>(data);
    g_autoptr(WebKitFrame) frame = static_cast<WebKitFrame*>(g_weak_ref_get(&target->frame));
    if (!frame || !theExtension) return;
    WebKitWebPage* page = webkit_web_extension_get_page(theExtension, target->pageId);
    if (!page) return;

    std::string host;
    gint64 port = 0;
    frameOrigin(frame, host, port);
    GVariant* parameters = g_variant_new(brindlemar::wire::pageMessageType, target->handler.c_str(),
                                         encodeBody(body, 0), webkit_frame_is_main_frame(frame),
                                         host.c_str(), port);
    WebKitUserMessage* message =
        webkit_user_message_new(brindlemar::wire::pageMessageName, parameters);
    webkit_web_page_send_message_to_view(page, message, nullptr, nullptr, nullptr);
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
    g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, world);
    g_autoptr(JSCValue) handlers = jsc_value_new_object(context, nullptr, nullptr);
    for (const std::string& name : handlerNames) {
        auto* target = new PostTarget{name, {}, webkit_web_page_get_id(page)};
        g_weak_ref_init(&target->frame, frame);
        g_autoptr(JSCValue) post =
            jsc_value_new_function(context, "postMessage", G_CALLBACK(onPostMessage), target,
                                   freePostTarget, G_TYPE_NONE, 1, JSC_TYPE_VALUE);
        g_autoptr(JSCValue) handler = jsc_value_new_object(context, nullptr, nullptr);
        jsc_value_object_define_property_data(handler, "postMessage",
                                              JSC_VALUE_PROPERTY_ENUMERABLE, post);
        jsc_value_object_define_property_data(handlers, name.c_str(),
                                              JSC_VALUE_PROPERTY_ENUMERABLE, handler);
    }
    g_autoptr(JSCValue) namespaceObject = jsc_value_new_object(context, nullptr, nullptr);
    jsc_value_object_define_property_data(namespaceObject, "messageHandlers",
                                          JSC_VALUE_PROPERTY_ENUMERABLE, handlers);
    g_autoptr(JSCValue) global = jsc_context_get_global_object(context);
    jsc_value_object_define_property_data(global, "webkit", JSC_VALUE_PROPERTY_CONFIGURABLE,
                                          namespaceObject);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, GVariant* userData) {
    theExtension = extension;
    if (userData && g_variant_is_of_type(userData, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        g_autofree const char** names = g_variant_get_strv(userData, &count);
        for (gsize i = 0; i < count; ++i) handlerNames.emplace_back(names[i]);
    }
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(onWindowObjectCleared), nullptr);
}
