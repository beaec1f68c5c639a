// Stopping and freeing a player's pipeline away from the main loop.
#pragma once

#include <gst/gst.h>
#include <gst/play/play.h>

#include "platform/gtk/gref.hpp"

namespace brindlemar::gtk {

// What a destroyed player leaves to be stopped and freed.
struct PipelineLeftovers {
    GRef<GstPlay> play;
    GRef<GstElement> pipeline;
    GRef<GstElement> sink;  // holds the video widget: let go on the main thread
};

// Stopping a pipeline blocks until its streaming threads have stopped, and gtksink
// does part of its starting and stopping on the main loop, waiting for it. Done on
// the main thread, a stop that meets a sink still starting would never finish; on a
// worker thread (GTask) the main loop stays free to serve the sink. The sink's last
// references go on the main loop afterwards.
void releaseInBackground(PipelineLeftovers leftovers);

// True while any such release is still under way; each ends on a turn of the
// default main context.
bool playerReleasesPending();

// Runs the default main context until every release has ended (or a few seconds
// have passed).
void waitForPlayerReleases();

}  // namespace brindlemar::gtk
