#pragma once

#include <memory>
#include <string>

#include <webkit2/webkit2.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// The main web view: WebKitWebView in its own web context, which loads the page
// bridge extension from `extensionDirectory` into the web process. With
// `acceleratedCompositingOff` it never uses hardware acceleration.
std::unique_ptr<WebView> createWebView(const WebViewConfig& config, WebViewEvents events,
                                       const std::string& extensionDirectory,
                                       bool acceleratedCompositingOff);

}  // namespace brindlemar::gtk
