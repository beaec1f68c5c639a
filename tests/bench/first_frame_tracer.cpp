// A GStreamer tracer for benchmarks, loaded into a process from outside with
//   GST_PLUGIN_PATH=<dir of this module> GST_TRACERS=firstframe
// For every video sink (gtksink) it writes one line to standard error when the first
// buffer is pushed into it:
//   first-frame <wall-clock milliseconds>
// so a benchmark can time "play" to the first picture without anything in the product
// knowing about it.
#include <gst/gst.h>

namespace {

constexpr const char* sinkFactory = "gtksink";
constexpr const char* seenKey = "first-frame-seen";

void onPush(GstPad* pad) {
    GstPad* peer = gst_pad_get_peer(pad);
    if (!peer) return;
    GstElement* element = gst_pad_get_parent_element(peer);
    gst_object_unref(peer);
    if (!element) return;
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && g_strcmp0(GST_OBJECT_NAME(factory), sinkFactory) == 0 &&
        !g_object_get_data(G_OBJECT(element), seenKey)) {
        g_object_set_data(G_OBJECT(element), seenKey, GINT_TO_POINTER(1));
        g_printerr("first-frame %" G_GINT64_FORMAT "\n", g_get_real_time() / 1000);
    }
    gst_object_unref(element);
}

void onPushBuffer(GObject*, GstClockTime, GstPad* pad, GstBuffer*) { onPush(pad); }
void onPushList(GObject*, GstClockTime, GstPad* pad, GstBufferList*) { onPush(pad); }

}  // namespace

extern "C" {

typedef struct {
    GstTracer parent;
} FirstFrameTracer;
typedef struct {
    GstTracerClass parent_class;
} FirstFrameTracerClass;

G_DEFINE_TYPE(FirstFrameTracer, first_frame_tracer, GST_TYPE_TRACER)

static void first_frame_tracer_class_init(FirstFrameTracerClass*) {}

static void first_frame_tracer_init(FirstFrameTracer* self) {
    GstTracer* tracer = GST_TRACER(self);
    gst_tracing_register_hook(tracer, "pad-push-pre", G_CALLBACK(onPushBuffer));
    gst_tracing_register_hook(tracer, "pad-push-list-pre", G_CALLBACK(onPushList));
}

static gboolean plugin_init(GstPlugin* plugin) {
    return gst_tracer_register(plugin, "firstframe", first_frame_tracer_get_type());
}

#define PACKAGE "brindlemar-bench"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, benchtracers,
                  "Benchmark tracers", plugin_init, "0.1", "LGPL", PACKAGE, "brindlemar")

}  // extern "C"
