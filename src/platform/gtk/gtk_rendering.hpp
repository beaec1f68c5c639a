#pragma once

#include <future>

#include "shell/rendering_policy.hpp"

namespace brindlemar::gtk {

// How the web engine composites, decided once at start-up from what the machine
// reports (see decideCompositing).
//
// WebKitGTK 2.50 honours two knobs for this (both tried on a software renderer): the
// WebKitSettings hardware-acceleration-policy NEVER, per web view, and
// WEBKIT_DISABLE_COMPOSITING_MODE, which the library reads in this process before its
// first web process starts and hands on to it. Either one removes most of the CPU
// spent drawing after a page load; the environment also keeps OpenGL out of both
// processes, which saves memory besides. So:
//  - when the decision needs no renderer string (no render node, or
//    LIBGL_ALWAYS_SOFTWARE), it is made first thing in main, while the process has a
//    single thread and changing the environment is safe, and the environment is set;
//  - otherwise the renderer string is read on a thread while GTK starts (that loads
//    the OpenGL driver), and a software renderer found there turns compositing off
//    through the setting, as the environment can no longer be changed safely.
// A user's own WEBKIT_DISABLE_COMPOSITING_MODE is left to the engine either way.
// Overlay scrollbars go with compositing in the first case (see
// turnOffOverlayScrollbars); in the second they stay, as the engine reads that choice
// from the environment only.
class RenderingPolicy {
public:
    // Call before anything starts a thread.
    static RenderingPolicy start();

    // Whether web views must be made with hardware acceleration off; waits for the
    // renderer string the first time when it is still being read.
    bool disableInSettings();

    // How the native player draws its pictures (see decideVideoRenderer); waits for
    // the renderer string the first time when it is still being read.
    VideoRenderer videoRenderer();

private:
    void decide();
    std::future<RenderingFacts> pending_;
    bool decided_ = false;
    bool disableInSettings_ = false;
    VideoRenderer videoRenderer_ = VideoRenderer::Software;
};

}  // namespace brindlemar::gtk
