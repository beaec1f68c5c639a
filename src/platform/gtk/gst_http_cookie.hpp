#pragma once

#include <gst/gst.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// Makes every HTTP source that `pipeline` (a playbin) creates for a URI on the
// cookie's origin send the cookie: the media itself and any subtitle file. Sources for
// other origins never see it. The setting lives as long as the pipeline.
void sendCookieWithHttpSources(GstElement* pipeline, const HttpCookie& cookie);

}  // namespace brindlemar::gtk
