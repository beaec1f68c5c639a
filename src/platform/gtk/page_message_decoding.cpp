#include "platform/gtk/page_message_decoding.hpp"

#include "webext/page_message_wire.hpp"

namespace brindlemar::gtk {

BodyValue decodeBody(GVariant* value) {
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        return BodyValue(std::string(g_variant_get_string(value, nullptr)));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE))
        return BodyValue(g_variant_get_double(value));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
        return BodyValue(g_variant_get_boolean(value) != FALSE);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARDICT)) {
        BodyValue::Object object;
        GVariantIter iter;
        const char* key = nullptr;
        GVariant* member = nullptr;
        g_variant_iter_init(&iter, value);
        while (g_variant_iter_next(&iter, "{&sv}", &key, &member)) {
            object.insert_or_assign(key, decodeBody(member));
            g_variant_unref(member);
        }
        return BodyValue(std::move(object));
    }
    return BodyValue();
}

std::optional<PageMessage> decodePageMessage(GVariant* parameters) {
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE(wire::pageMessageType)))
        return std::nullopt;
    const char* name = nullptr;
    g_autoptr(GVariant) body = nullptr;
    gboolean mainFrame = FALSE;
    const char* host = nullptr;
    gint64 port = 0;
    g_variant_get(parameters, "(&svb&sx)", &name, &body, &mainFrame, &host, &port);
    return PageMessage{name, decodeBody(body), mainFrame != FALSE, host, port};
}

}  // namespace brindlemar::gtk
