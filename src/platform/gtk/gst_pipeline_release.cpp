#include "platform/gtk/gst_pipeline_release.hpp"

#include <gio/gio.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <utility>

namespace brindlemar::gtk {

namespace {

// Counted on the main thread only: releases start there, and end there.
int releasesInFlight = 0;

void stopOnWorker(GTask* task, gpointer, gpointer data, GCancellable*) {
    auto* leftovers = static_cast<PipelineLeftovers*>(data);
    if (leftovers->play) {
        gst_play_stop(leftovers->play.get());
        // The last reference ends GstPlay's thread, which takes playbin to NULL.
        leftovers->play.reset();
    }
    if (leftovers->pipeline) {
        gst_element_set_state(leftovers->pipeline.get(), GST_STATE_NULL);
        leftovers->pipeline.reset();
    }
#if defined(__GLIBC__)
    // A playback frees many large buffers (frames, queued media) at once. glibc keeps
    // such freed memory in the process, and one play/stop after another grew the
    // resident size by about 80 KiB each time; trimming hands it back to the system.
    malloc_trim(0);
#endif
    g_task_return_boolean(task, TRUE);
}

void finishOnMain(GObject*, GAsyncResult* result, gpointer) {
    auto* leftovers = static_cast<PipelineLeftovers*>(g_task_get_task_data(G_TASK(result)));
    leftovers->sink.reset();
    --releasesInFlight;
}

}  // namespace

void releaseInBackground(PipelineLeftovers leftovers) {
    if (!leftovers.play && !leftovers.pipeline && !leftovers.sink) return;
    ++releasesInFlight;
    auto task = adopt(g_task_new(nullptr, nullptr, finishOnMain, nullptr));
    g_task_set_task_data(task.get(), new PipelineLeftovers(std::move(leftovers)),
                         [](gpointer data) { delete static_cast<PipelineLeftovers*>(data); });
    g_task_run_in_thread(task.get(), stopOnWorker);
}

bool playerReleasesPending() {
    return releasesInFlight > 0;
}

void waitForPlayerReleases() {
    bool late = false;
    const guint deadline = g_timeout_add_seconds(5, [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
    }, &late);
    while (playerReleasesPending() && !late) g_main_context_iteration(nullptr, TRUE);
    if (!late) g_source_remove(deadline);
}

}  // namespace brindlemar::gtk
