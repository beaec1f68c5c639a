#include "platform/gtk/mpv_video.hpp"

#include <dlfcn.h>
#include <mpv/render_gl.h>

#include <atomic>

namespace brindlemar::gtk {

namespace {

void paintBlackBackground(cairo_t* cr) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
}

// OpenGL entry points as the current context's library gives them: EGL (Wayland,
// and X11 where GTK chose it) or GLX. Both libraries are already loaded by GTK when
// a GtkGLArea has a context; they are opened here only to look the names up.
using ProcLookup = void* (*)(const char*);

struct GlLibraries {
    ProcLookup eglLookup = nullptr;
    void* (*eglCurrentContext)() = nullptr;
    ProcLookup glxLookup = nullptr;

    GlLibraries() {
        if (void* egl = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL)) {
            eglLookup = reinterpret_cast<ProcLookup>(dlsym(egl, "eglGetProcAddress"));
            eglCurrentContext = reinterpret_cast<void* (*)()>(dlsym(egl, "eglGetCurrentContext"));
        }
        if (void* glx = dlopen("libGL.so.1", RTLD_NOW | RTLD_LOCAL))
            glxLookup = reinterpret_cast<ProcLookup>(dlsym(glx, "glXGetProcAddressARB"));
    }
};

void* glProcAddress(void*, const char* name) {
    static const GlLibraries libraries;
    if (libraries.eglLookup && libraries.eglCurrentContext && libraries.eglCurrentContext())
        return libraries.eglLookup(name);
    if (libraries.glxLookup) return libraries.glxLookup(name);
    return libraries.eglLookup ? libraries.eglLookup(name) : nullptr;
}

constexpr unsigned int glFramebufferBinding = 0x8CA6;

}  // namespace

// ---- the software renderer's frames --------------------------------------------------

SoftwareVideo::SoftwareVideo(std::shared_ptr<VideoFrame> frame, std::function<void(int, int)> resized)
    : frame_(std::move(frame)), resized_(std::move(resized)), area_(sink(gtk_drawing_area_new())) {
    gtk_widget_set_hexpand(area_.get(), TRUE);
    gtk_widget_set_vexpand(area_.get(), TRUE);
    handlers_.connect(area_.get(), "draw", G_CALLBACK(onDraw), this);
    handlers_.connect(area_.get(), "size-allocate", G_CALLBACK(onSizeAllocate), this);
    gtk_widget_show(area_.get());
}

SoftwareVideo::~SoftwareVideo() {
    handlers_.clear();
    // Still in a container somewhere, it shows black from now on.
    gtk_widget_queue_draw(area_.get());
}

void SoftwareVideo::newFrame() {
    gtk_widget_queue_draw(area_.get());
}

gboolean SoftwareVideo::onDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    auto* self = static_cast<SoftwareVideo*>(data);
    paintBlackBackground(cr);
    const int scale = gtk_widget_get_scale_factor(widget);
    const int width = gtk_widget_get_allocated_width(widget) * scale;
    const int height = gtk_widget_get_allocated_height(widget) * scale;
    std::lock_guard lock(self->frame_->mutex);
    const PixelBuffer& picture = self->frame_->current;
    if (!picture.pixels) return TRUE;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        picture.pixels.get(), CAIRO_FORMAT_RGB24, picture.width, picture.height, picture.stride);
    cairo_save(cr);
    cairo_scale(cr, 1.0 / scale, 1.0 / scale);
    // Rendered for the size before a resize: centred until the next picture.
    cairo_set_source_surface(cr, surface, (width - picture.width) / 2.0, (height - picture.height) / 2.0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(surface);
    return TRUE;
}

void SoftwareVideo::onSizeAllocate(GtkWidget* widget, GdkRectangle* allocation, gpointer data) {
    auto* self = static_cast<SoftwareVideo*>(data);
    const int scale = gtk_widget_get_scale_factor(widget);
    if (self->resized_) self->resized_(allocation->width * scale, allocation->height * scale);
}

// ---- mpv's OpenGL renderer ------------------------------------------------------------

struct OpenGlVideo::Pending : std::enable_shared_from_this<OpenGlVideo::Pending> {
    std::atomic<bool> posted{false};
    OpenGlVideo* owner = nullptr;  // main loop only; cleared with the render context
};

OpenGlVideo::OpenGlVideo(std::function<void(bool)> attached, std::function<void()> rendered)
    : attachedChanged_(std::move(attached)), rendered_(std::move(rendered)), pending_(std::make_shared<Pending>()),
      area_(sink(gtk_gl_area_new())) {
    pending_->owner = this;
    gtk_gl_area_set_has_alpha(GTK_GL_AREA(area_.get()), FALSE);
    gtk_gl_area_set_auto_render(GTK_GL_AREA(area_.get()), FALSE);
    gtk_widget_set_hexpand(area_.get(), TRUE);
    gtk_widget_set_vexpand(area_.get(), TRUE);
    handlers_.connect(area_.get(), "realize", G_CALLBACK(onRealize), this);
    handlers_.connect(area_.get(), "unrealize", G_CALLBACK(onUnrealize), this);
    handlers_.connect(area_.get(), "render", G_CALLBACK(onRender), this);
    gtk_widget_show(area_.get());
}

OpenGlVideo::~OpenGlVideo() {
    attachedChanged_ = nullptr;
    rendered_ = nullptr;
    destroy();
    pending_->owner = nullptr;
    handlers_.clear();
}

void OpenGlVideo::setHandle(mpv_handle* handle) {
    handle_ = handle;
    create();
}

// The signal runs after the area's own realize: its context exists by then.
void OpenGlVideo::onRealize(GtkWidget*, gpointer data) {
    static_cast<OpenGlVideo*>(data)->create();
}

// Connected before the area's own handler runs its unrealize: the context is still there.
void OpenGlVideo::onUnrealize(GtkWidget*, gpointer data) {
    static_cast<OpenGlVideo*>(data)->destroy();
}

void OpenGlVideo::create() {
    if (renderer_ || failed_ || !handle_ || !gtk_widget_get_realized(area_.get())) return;
    GtkGLArea* area = GTK_GL_AREA(area_.get());
    gtk_gl_area_make_current(area);
    if (gtk_gl_area_get_error(area)) {
        failed_ = true;
        if (attachedChanged_) attachedChanged_(false);
        return;
    }
    mpv_opengl_init_params init{&glProcAddress, nullptr};
    int advanced = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &init},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advanced},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&renderer_, handle_, params) < 0) {
        renderer_ = nullptr;
        failed_ = true;
        if (attachedChanged_) attachedChanged_(false);
        return;
    }
    pending_->owner = this;
    mpv_render_context_set_update_callback(renderer_, &OpenGlVideo::onUpdate, pending_.get());
    if (attachedChanged_) attachedChanged_(true);
    gtk_gl_area_queue_render(area);
}

void OpenGlVideo::destroy() {
    if (!renderer_) return;
    if (gtk_widget_get_realized(area_.get())) gtk_gl_area_make_current(GTK_GL_AREA(area_.get()));
    // Waits until mpv's video output has let go of it; a picture being shown is
    // taken down with it, and brought back by the owner once a context exists again.
    mpv_render_context_free(renderer_);
    renderer_ = nullptr;
    if (attachedChanged_) attachedChanged_(false);
}

gboolean OpenGlVideo::onRender(GtkGLArea* area, GdkGLContext*, gpointer data) {
    auto* self = static_cast<OpenGlVideo*>(data);
    if (!self->renderer_) return FALSE;
    using GetIntegerv = void (*)(unsigned int, int*);
    static const auto getIntegerv = reinterpret_cast<GetIntegerv>(glProcAddress(nullptr, "glGetIntegerv"));
    int framebuffer = 0;
    if (getIntegerv) getIntegerv(glFramebufferBinding, &framebuffer);
    GtkWidget* widget = GTK_WIDGET(area);
    const int scale = gtk_widget_get_scale_factor(widget);
    mpv_opengl_fbo fbo{framebuffer, gtk_widget_get_allocated_width(widget) * scale,
                       gtk_widget_get_allocated_height(widget) * scale, 0};
    int flip = 1;
    int block = 0;  // never hold the main loop for a picture's time
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flip},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(self->renderer_, params);
    if (self->rendered_) self->rendered_();
    return TRUE;
}

// From mpv's threads: a new picture is due. The main loop asks mpv and draws.
void OpenGlVideo::onUpdate(void* data) {
    auto* pending = static_cast<Pending*>(data);
    if (pending->posted.exchange(true)) return;
    // The callback's pointer stays valid until the render context is freed, on the
    // main loop; the idle work keeps its own reference and checks the owner there.
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer d) -> gboolean {
            auto& p = *static_cast<std::shared_ptr<Pending>*>(d);
            p->posted = false;
            if (OpenGlVideo* self = p->owner; self && self->renderer_) {
                if (mpv_render_context_update(self->renderer_) & MPV_RENDER_UPDATE_FRAME)
                    gtk_gl_area_queue_render(GTK_GL_AREA(self->area_.get()));
            }
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<Pending>(pending->shared_from_this()),
        [](gpointer d) { delete static_cast<std::shared_ptr<Pending>*>(d); });
}

}  // namespace brindlemar::gtk
