#include "platform/gtk/gtk_player_view.hpp"

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gst_player.hpp"
#include "platform/gtk/gtk_view.hpp"

namespace brindlemar::gtk {

namespace {

constexpr int edgeMargin = 20;

void paintBlack(GtkWidget* widget) {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, "* { background-color: #000000; }", -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

class GtkSpinnerView final : public Spinner {
public:
    explicit GtkSpinnerView(GtkWidget* spinner) : spinner_(ref(spinner)) {}
    ~GtkSpinnerView() override {
        if (GtkWidget* parent = gtk_widget_get_parent(spinner_.get()))
            gtk_container_remove(GTK_CONTAINER(parent), spinner_.get());
    }
    void startAnimation() override {
        gtk_spinner_start(GTK_SPINNER(spinner_.get()));
        gtk_widget_show(spinner_.get());
    }
    void stopAnimation() override {
        gtk_spinner_stop(GTK_SPINNER(spinner_.get()));
        gtk_widget_hide(spinner_.get());
    }

private:
    GRef<GtkWidget> spinner_;
};

class GtkPlayerView final : public PlayerView {
public:
    explicit GtkPlayerView(View& content) : host_(ref(hostOf(content))) {
        root_ = ref(gtk_overlay_new());
        video_ = gtk_event_box_new();
        paintBlack(video_);
        gtk_container_add(GTK_CONTAINER(root_.get()), video_);
        gtk_overlay_add_overlay(host_.get(), root_.get());
        gtk_widget_show_all(root_.get());
    }

    ~GtkPlayerView() override { removeFromSuperview(); }

    void setPlayer(Player* player) override {
        if (GtkWidget* current = gtk_bin_get_child(GTK_BIN(video_)))
            gtk_container_remove(GTK_CONTAINER(video_), current);
        player_ = player;
        if (!player) return;
        if (GtkWidget* widget = videoWidgetOf(*player)) {
            gtk_container_add(GTK_CONTAINER(video_), widget);
            gtk_widget_show(widget);
        }
    }

    void setAllowsPictureInPicturePlayback(bool allowed) override { pipAllowed_ = allowed; }

    void setPictureInPictureDelegate(PictureInPictureDelegate delegate) override {
        pipDelegate_ = std::move(delegate);
    }

    void addBackButton(const std::string& title, std::function<void()> action) override {
        GtkWidget* button = gtk_button_new_with_label(title.c_str());
        gtk_widget_set_halign(button, GTK_ALIGN_START);
        gtk_widget_set_valign(button, GTK_ALIGN_START);
        gtk_widget_set_margin_start(button, edgeMargin);
        gtk_widget_set_margin_top(button, edgeMargin);
        backAction_ = std::move(action);
        g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                             auto* self = static_cast<GtkPlayerView*>(data);
                             if (self->backAction_) {
                                 auto action = self->backAction_;
                                 action();
                             }
                         }),
                         this);
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), button);
        gtk_widget_show(button);
    }

    std::unique_ptr<Spinner> addSpinner() override {
        GtkWidget* spinner = gtk_spinner_new();
        gtk_widget_set_size_request(spinner, 48, 48);
        gtk_widget_set_halign(spinner, GTK_ALIGN_CENTER);
        gtk_widget_set_valign(spinner, GTK_ALIGN_CENTER);
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), spinner);
        gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(root_.get()), spinner, TRUE);
        return std::make_unique<GtkSpinnerView>(spinner);
    }

    void setHidden(bool hidden) override { gtk_widget_set_visible(root_.get(), !hidden); }

    void moveOver(View& content) override {
        GtkOverlay* target = hostOf(content);
        if (target == host_.get()) return;
        removeFromSuperview();
        host_ = ref(target);
        gtk_overlay_add_overlay(host_.get(), root_.get());
    }

    void removeFromSuperview() override {
        if (gtk_widget_get_parent(root_.get()) == GTK_WIDGET(host_.get()))
            gtk_container_remove(GTK_CONTAINER(host_.get()), root_.get());
    }

private:
    GRef<GtkOverlay> host_;
    GRef<GtkWidget> root_;
    GtkWidget* video_ = nullptr;
    Player* player_ = nullptr;
    bool pipAllowed_ = false;
    PictureInPictureDelegate pipDelegate_;
    std::function<void()> backAction_;
};

}  // namespace

std::unique_ptr<PlayerView> createPlayerView(View& content) {
    return std::make_unique<GtkPlayerView>(content);
}

}  // namespace brindlemar::gtk
