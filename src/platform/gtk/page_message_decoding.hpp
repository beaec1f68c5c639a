// Reads the page messages that the web process extension sends: the parameters of
// its user message, with the body typed as the extension encodes it. Needs GLib only.
#pragma once

#include <glib.h>

#include <optional>

#include "bridge/page_message.hpp"

namespace brindlemar::gtk {

// A GVariant body: "s" a string, "d" a number, "b" a boolean, "a{sv}" an object whose
// members are typed the same way, and any other type the "other" value.
BodyValue decodeBody(GVariant* value);

// The whole message, "(svbsx)": handler name, body, main-frame flag, origin host and
// port. Nothing when the parameters are missing or of another type.
std::optional<PageMessage> decodePageMessage(GVariant* parameters);

}  // namespace brindlemar::gtk
