// The widgets that show an mpv player's picture: the software renderer's frames drawn
// with cairo, or mpv's OpenGL renderer inside a GtkGLArea.
#pragma once

#include <gtk/gtk.h>
#include <mpv/client.h>
#include <mpv/render.h>

#include <functional>
#include <memory>

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gsignals.hpp"
#include "platform/gtk/mpv_instance.hpp"

namespace brindlemar::gtk {

// A black area that paints the latest software frame, letterboxed by mpv at the
// area's own size, which it reports through `resized` (in device pixels).
class SoftwareVideo {
public:
    SoftwareVideo(std::shared_ptr<VideoFrame> frame, std::function<void(int width, int height)> resized);
    ~SoftwareVideo();
    SoftwareVideo(const SoftwareVideo&) = delete;
    SoftwareVideo& operator=(const SoftwareVideo&) = delete;

    GtkWidget* widget() const { return area_.get(); }
    void newFrame();

private:
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static void onSizeAllocate(GtkWidget* widget, GdkRectangle* allocation, gpointer self);

    std::shared_ptr<VideoFrame> frame_;
    std::function<void(int, int)> resized_;
    GRef<GtkWidget> area_;
    SignalHandlers handlers_;
};

// mpv's OpenGL renderer in a GtkGLArea. The render context lives while the area is
// realized with a handle given: it is made again whenever the area is realized anew
// (moved to another window), and `attached` reports each change.
class OpenGlVideo {
public:
    // `rendered` after each picture drawn.
    OpenGlVideo(std::function<void(bool attached)> attached, std::function<void()> rendered);
    ~OpenGlVideo();
    OpenGlVideo(const OpenGlVideo&) = delete;
    OpenGlVideo& operator=(const OpenGlVideo&) = delete;

    GtkWidget* widget() const { return area_.get(); }
    void setHandle(mpv_handle* handle);
    bool attached() const { return renderer_ != nullptr; }
    // The area could not give an OpenGL context.
    bool failed() const { return failed_; }

private:
    void create();
    void destroy();
    static void onRealize(GtkWidget*, gpointer self);
    static void onUnrealize(GtkWidget*, gpointer self);
    static gboolean onRender(GtkGLArea* area, GdkGLContext*, gpointer self);
    static void onUpdate(void* shared);

    struct Pending;  // what mpv's callback shares with the main loop
    std::function<void(bool)> attachedChanged_;
    std::function<void()> rendered_;
    mpv_handle* handle_ = nullptr;
    mpv_render_context* renderer_ = nullptr;
    std::shared_ptr<Pending> pending_;
    bool failed_ = false;
    GRef<GtkWidget> area_;
    SignalHandlers handlers_;
};

}  // namespace brindlemar::gtk
