#include "platform/gtk/gtk_panel.hpp"

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gtk_floating_window.hpp"
#include "platform/gtk/gtk_main_window.hpp"
#include "platform/gtk/gtk_player_controls.hpp"
#include "platform/gtk/gtk_view.hpp"

namespace brindlemar::gtk {

namespace {

class GtkPanel final : public Panel {
public:
    GtkPanel(const PanelConfig& config, std::function<bool(Panel&)> shouldClose)
        : shouldClose_(std::move(shouldClose)),
          floating_(std::in_place, FloatingWindowConfig{config.title, config.width, config.height, config.minWidth,
                                                        config.minHeight,
                                                        static_cast<double>(config.aspectWidth) / config.aspectHeight},
                    [this] { closeRequested(); }) {
        // Dragging the panel's background (what the page does not take) moves it.
        background_ = gtk_event_box_new();
        gtk_container_add(GTK_CONTAINER(window()), background_);
        handlers_.connect(background_, "button-press-event", G_CALLBACK(onBackgroundPress), this);
    }

    ~GtkPanel() override { close(); }

    void setContentView(View& view) override {
        if (GtkOverlay* host = hostOf(view)) moveInto(GTK_WIDGET(host), GTK_CONTAINER(background_));
    }

    void moveToBottomRight(Window& window, int right, int bottom) override {
        std::optional<GdkRectangle> area = workAreaNear(gdkWindowOf(window));
        if (!area) return;
        workArea_ = *area;
        right_ = right;
        bottom_ = bottom;
        placed_ = true;
        place();
    }

    void orderFrontRegardless() override {
        if (!floating_) return;
        gtk_widget_show_all(GTK_WIDGET(window()));
        // The window manager's decorations are known once the panel is mapped:
        // place it again then, so that the whole frame keeps its distance.
        if (placed_ && !mapHandled_) {
            mapHandled_ = true;
            handlers_.connect(window(), "map-event", G_CALLBACK(onMapped), this);
        }
    }

    void close() override {
        if (!floating_) return;
        g_clear_handle_id(&placeSource_, g_source_remove);
        handlers_.clear();
        // Hand the page back before the window goes, so it is never destroyed with it.
        if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(background_)))
            gtk_container_remove(GTK_CONTAINER(background_), child);
        floating_.reset();
    }

private:
    // Moves the frame's outer bottom-right corner to its place in the work area.
    void place() {
        if (!floating_) return;
        GtkWindow* w = window();
        int width = 0;
        int height = 0;
        gtk_window_get_size(w, &width, &height);
        GdkRectangle frame{0, 0, width, height};
        if (GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(w))) {
            if (gtk_widget_get_mapped(GTK_WIDGET(w))) gdk_window_get_frame_extents(gdk, &frame);
        }
        gtk_window_move(w, workArea_.x + workArea_.width - right_ - frame.width,
                        workArea_.y + workArea_.height - bottom_ - frame.height);
    }

    GtkWindow* window() const { return floating_->window(); }

    static gboolean onMapped(GtkWidget* widget, GdkEvent*, gpointer data) {
        auto* self = static_cast<GtkPanel*>(data);
        self->handlers_.disconnect(widget);
        self->placeSource_ = g_timeout_add(50, [](gpointer d) -> gboolean {
            auto* panel = static_cast<GtkPanel*>(d);
            panel->placeSource_ = 0;
            panel->place();
            return G_SOURCE_REMOVE;
        }, self);
        return FALSE;
    }

    // The close button asks the owner, whose answer may destroy this panel (and the
    // function with it): both are kept safe across the call.
    void closeRequested() {
        auto shouldClose = shouldClose_;
        std::weak_ptr<void> alive = alive_;
        const bool mayClose = !shouldClose || shouldClose(*this);
        if (mayClose && !alive.expired()) close();
    }

    static gboolean onBackgroundPress(GtkWidget*, GdkEventButton* event, gpointer data) {
        auto* self = static_cast<GtkPanel*>(data);
        if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return FALSE;
        gtk_window_begin_move_drag(self->window(), static_cast<int>(event->button),
                                   static_cast<int>(event->x_root), static_cast<int>(event->y_root),
                                   event->time);
        return TRUE;
    }

    std::function<bool(Panel&)> shouldClose_;
    std::shared_ptr<void> alive_ = std::make_shared<int>(0);  // expires with the panel
    std::optional<FloatingWindow> floating_;  // nothing once closed
    GtkWidget* background_ = nullptr;
    SignalHandlers handlers_;
    bool mapHandled_ = false;
    guint placeSource_ = 0;
    GdkRectangle workArea_{};
    int right_ = 0;
    int bottom_ = 0;
    bool placed_ = false;
};

class GtkPlaceholder final : public GtkView {
public:
    GtkPlaceholder(const std::string& label, const std::string& buttonTitle, std::function<void()> action)
        : action_(std::move(action)) {
        host_ = sink(GTK_OVERLAY(gtk_overlay_new()));
        GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 20);
        gtk_widget_set_halign(column, GTK_ALIGN_CENTER);
        gtk_widget_set_valign(column, GTK_ALIGN_CENTER);
        GtkWidget* text = safeLabel(label.c_str());
        gtk_label_set_justify(GTK_LABEL(text), GTK_JUSTIFY_CENTER);
        PangoAttrList* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_size_new(20 * PANGO_SCALE));
        pango_attr_list_insert(attributes, pango_attr_weight_new(PANGO_WEIGHT_MEDIUM));
        gtk_label_set_attributes(GTK_LABEL(text), attributes);
        pango_attr_list_unref(attributes);
        GtkWidget* button = labelButton(buttonTitle.c_str());
        gtk_widget_set_halign(button, GTK_ALIGN_CENTER);
        handlers_.connect(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                              auto* self = static_cast<GtkPlaceholder*>(data);
                              auto action = self->action_;  // the action may destroy this view
                              if (action) action();
                          }), this);
        gtk_box_pack_start(GTK_BOX(column), text, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(column), button, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(host_.get()), column);
        gtk_widget_show_all(GTK_WIDGET(host_.get()));
    }

    GtkOverlay* host() const override { return host_.get(); }

private:
    std::function<void()> action_;
    GRef<GtkOverlay> host_;
    SignalHandlers handlers_;
};

}  // namespace

std::unique_ptr<Panel> createPanel(const PanelConfig& config, std::function<bool(Panel&)> shouldClose) {
    return std::make_unique<GtkPanel>(config, std::move(shouldClose));
}

std::unique_ptr<View> createPlaceholder(const std::string& label, const std::string& buttonTitle,
                                        std::function<void()> action) {
    return std::make_unique<GtkPlaceholder>(label, buttonTitle, std::move(action));
}

}  // namespace brindlemar::gtk
