#include "platform/gtk/gtk_player_view.hpp"

#include "platform/gtk/gref.hpp"
#include "platform/gtk/mpv_player.hpp"
#include "platform/gtk/gtk_floating_window.hpp"
#include "platform/gtk/gtk_player_controls.hpp"
#include "platform/gtk/gtk_view.hpp"

namespace brindlemar::gtk {

namespace {

constexpr int edgeMargin = 20;

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

// Linux has no system picture-in-picture: this small floating window takes the
// video while it lasts.
class PictureInPictureWindow {
public:
    PictureInPictureWindow(GtkWidget* video, std::function<void()> restore, std::function<void()> closed,
                           std::function<bool(GtkWindow*, GdkEventKey*)> key)
        : restore_(std::move(restore)), key_(std::move(key)),
          floating_(FloatingWindowConfig{"Brindlemar \u00b7 Imagen en imagen", 384, 216, 256, 144, 16.0 / 9.0},
                    std::move(closed)) {
        GtkWindow* w = floating_.window();
        GtkWidget* overlay = gtk_overlay_new();
        box_ = gtk_event_box_new();
        paintBlack(box_);
        gtk_container_add(GTK_CONTAINER(overlay), box_);
        moveInto(video, GTK_CONTAINER(box_));
        GtkWidget* back = iconButton("view-restore-symbolic", "Volver al reproductor");
        gtk_widget_set_halign(back, GTK_ALIGN_END);
        gtk_widget_set_valign(back, GTK_ALIGN_START);
        gtk_widget_set_margin_top(back, 8);
        gtk_widget_set_margin_end(back, 8);
        handlers_.connect(back, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                              auto restore = static_cast<PictureInPictureWindow*>(d)->restore_;
                              restore();  // may destroy this window
                          }), this);
        gtk_overlay_add_overlay(GTK_OVERLAY(overlay), back);
        // The player's keys work here as in the window it came from.
        handlers_.connect(w, "key-press-event", G_CALLBACK(+[](GtkWidget* window, GdkEventKey* event, gpointer d) -> gboolean {
                              auto* self = static_cast<PictureInPictureWindow*>(d);
                              return self->key_ && self->key_(GTK_WINDOW(window), event);
                          }), this);
        gtk_container_add(GTK_CONTAINER(w), overlay);
        // Bottom-right of the screen, clear of its edges.
        gtk_window_set_gravity(w, GDK_GRAVITY_SOUTH_EAST);
        if (std::optional<GdkRectangle> area = workAreaNear(nullptr))
            gtk_window_move(w, area->x + area->width - 24, area->y + area->height - 24);
        gtk_widget_show_all(GTK_WIDGET(w));
    }

    ~PictureInPictureWindow() {
        handlers_.clear();
        // The video is the player's: it leaves before the window goes.
        if (GtkWidget* video = gtk_bin_get_child(GTK_BIN(box_))) gtk_container_remove(GTK_CONTAINER(box_), video);
    }

    // Hands the video back to `box`.
    void giveBack(GtkWidget* box) {
        if (GtkWidget* video = gtk_bin_get_child(GTK_BIN(box_))) moveInto(video, GTK_CONTAINER(box));
    }

private:
    std::function<void()> restore_;
    std::function<bool(GtkWindow*, GdkEventKey*)> key_;
    FloatingWindow floating_;
    GtkWidget* box_ = nullptr;
    SignalHandlers handlers_;
};

// The player's keys reach the view through its toplevel
// window, before the focused widget (the page) sees them; the view follows its
// toplevel when it moves to another window.
class GtkPlayerView final : public PlayerView {
public:
    explicit GtkPlayerView(View& content)
        : host_(ref(hostOf(content))),
          controls_(PlayerControls::Actions{
              [this] { toggleFullscreen(); },
              [this] { startPictureInPicture(); },
              [this] {
                  if (events_.tracksChosen) events_.tracksChosen();
              },
              [this](bool shown) { showPointer(shown); },
          }) {
        root_ = sink(gtk_overlay_new());
        video_ = gtk_event_box_new();
        paintBlack(video_);
        gtk_widget_add_events(video_, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_SCROLL_MASK |
                                          GDK_SMOOTH_SCROLL_MASK);
        handlers_.connect(video_, "motion-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer d) -> gboolean {
                              static_cast<GtkPlayerView*>(d)->controls_.poke();
                              return FALSE;
                          }), this);
        // A double click on the picture: full screen.
        handlers_.connect(video_, "button-press-event",
                          G_CALLBACK(+[](GtkWidget*, GdkEventButton* event, gpointer d) -> gboolean {
                              if (event->type != GDK_2BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return FALSE;
                              static_cast<GtkPlayerView*>(d)->toggleFullscreen();
                              return TRUE;
                          }), this);
        // The wheel over the picture: volume.
        handlers_.connect(video_, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* event, gpointer d) -> gboolean {
                              static_cast<GtkPlayerView*>(d)->scrolled(event);
                              return TRUE;
                          }), this);
        handlers_.connect(root_.get(), "hierarchy-changed", G_CALLBACK(+[](GtkWidget*, GtkWidget*, gpointer d) {
                              static_cast<GtkPlayerView*>(d)->followToplevel();
                          }), this);
        gtk_container_add(GTK_CONTAINER(root_.get()), video_);
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), controls_.widget());
        for (GtkWidget* passive : {controls_.messageWidget(), controls_.helpWidget()}) {
            gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), passive);
            gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(root_.get()), passive, TRUE);
        }
        buildNextUp();
        buildSkipIntro();
        if (host_) gtk_overlay_add_overlay(host_.get(), root_.get());
        gtk_widget_show_all(root_.get());
    }

    ~GtkPlayerView() override {
        showPointer(true);
        pip_.reset();
        leaveFullscreen();
        handlers_.clear();
        keys_.clear();
        removeFromSuperview();
    }

    void setPlayer(std::weak_ptr<Player> player) override {
        controls_.setPlayer(player);
        if (GtkWidget* current = gtk_bin_get_child(GTK_BIN(video_)))
            gtk_container_remove(GTK_CONTAINER(video_), current);
        player_ = std::move(player);
        auto current = player_.lock();
        if (!current) return;
        if (GtkWidget* widget = videoWidgetOf(*current)) moveInto(widget, GTK_CONTAINER(video_));
    }

    void setAllowsPictureInPicturePlayback(bool allowed) override {
        pipAllowed_ = allowed;
        controls_.setPictureInPictureAllowed(allowed);
        if (!allowed && pip_) endPictureInPicture(false);
    }

    void setPictureInPictureDelegate(PictureInPictureDelegate delegate) override {
        pipDelegate_ = std::move(delegate);
    }

    void addBackButton(const std::string& title, std::function<void()> action) override {
        GtkWidget* button = labelButton(title.c_str());
        gtk_widget_set_halign(button, GTK_ALIGN_START);
        gtk_widget_set_valign(button, GTK_ALIGN_START);
        gtk_widget_set_margin_start(button, edgeMargin);
        gtk_widget_set_margin_top(button, edgeMargin);
        backAction_ = std::move(action);
        handlers_.connect(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                              auto action = static_cast<GtkPlayerView*>(data)->backAction_;
                              if (action) action();  // may destroy this view
                          }), this);
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), button);
        gtk_widget_show(button);
    }

    std::unique_ptr<Spinner> addSpinner() override {
        GtkWidget* spinner = gtk_spinner_new();
        gtk_widget_set_size_request(spinner, 64, 64);
        gtk_widget_set_halign(spinner, GTK_ALIGN_CENTER);
        gtk_widget_set_valign(spinner, GTK_ALIGN_CENTER);
        setAccessibleName(spinner, "Cargando");
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), spinner);
        gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(root_.get()), spinner, TRUE);
        return std::make_unique<GtkSpinnerView>(spinner);
    }

    void setHidden(bool hidden) override { gtk_widget_set_visible(root_.get(), !hidden); }

    void moveOver(View& content) override {
        GtkOverlay* target = hostOf(content);
        if (!target || target == host_.get()) return;
        removeFromSuperview();
        host_ = ref(target);
        gtk_overlay_add_overlay(host_.get(), root_.get());
    }

    void setEvents(PlayerViewEvents events) override { events_ = std::move(events); }

    void showNextUp(const std::string& title, int secondsLeft) override {
        gtk_label_set_text(GTK_LABEL(nextTitle_), ("Siguiente: " + title).c_str());
        const std::string left = secondsLeft == 1 ? "Empieza en 1 segundo"
                                                  : "Empieza en " + std::to_string(std::max(secondsLeft, 0)) + " segundos";
        gtk_label_set_text(GTK_LABEL(nextCountdown_), left.c_str());
        if (AtkObject* accessible = gtk_widget_get_accessible(nextUp_))
            atk_object_set_name(accessible, ("Siguiente: " + title).c_str());
        gtk_widget_show(nextUp_);
    }

    void hideNextUp() override { gtk_widget_hide(nextUp_); }

    void setSkipIntroVisible(bool visible) override { gtk_widget_set_visible(skipIntro_, visible); }

    void removeFromSuperview() override {
        if (host_ && gtk_widget_get_parent(root_.get()) == GTK_WIDGET(host_.get()))
            gtk_container_remove(GTK_CONTAINER(host_.get()), root_.get());
    }

private:
    void followToplevel() {
        keys_.clear();
        GtkWindow* toplevel = toplevelWindow();
        if (!toplevel) return;
        keys_.connect(toplevel, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer d) -> gboolean {
                          return static_cast<GtkPlayerView*>(d)->handleKey(event);
                      }), this);
    }

    bool handleKey(GdkEventKey* event) {
        if (!gtk_widget_is_visible(root_.get()) || !gtk_widget_get_mapped(root_.get())) return false;
        GtkWindow* toplevel = toplevelWindow();
        return controls_.handleKey(event, toplevel ? gtk_window_get_focus(toplevel) : nullptr);
    }

    void scrolled(const GdkEventScroll* event) {
        if (event->direction == GDK_SCROLL_UP) {
            controls_.scrollVolume(1);
        } else if (event->direction == GDK_SCROLL_DOWN) {
            controls_.scrollVolume(-1);
        } else if (event->direction == GDK_SCROLL_SMOOTH) {
            // Touchpads scroll in small deltas: a step for each whole unit gathered.
            scrollGathered_ -= event->delta_y;
            const int steps = static_cast<int>(scrollGathered_);
            scrollGathered_ -= steps;
            if (steps != 0) controls_.scrollVolume(steps);
        }
    }

    // The pointer hides over the picture with the control bar, and comes back with it.
    void showPointer(bool shown) {
        if (!video_ || !gtk_widget_get_realized(video_)) return;
        GdkWindow* window = gtk_widget_get_window(video_);
        if (!window) return;
        GdkCursor* blank = shown ? nullptr : gdk_cursor_new_from_name(gdk_window_get_display(window), "none");
        gdk_window_set_cursor(window, blank);
        if (blank) g_object_unref(blank);
    }

    // "Siguiente: <title>", the seconds left, and its two buttons, above the bar on the right.
    void buildNextUp() {
        nextUp_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
        gtk_style_context_add_class(gtk_widget_get_style_context(nextUp_), "osd");
        gtk_widget_set_halign(nextUp_, GTK_ALIGN_END);
        gtk_widget_set_valign(nextUp_, GTK_ALIGN_END);
        gtk_widget_set_margin_end(nextUp_, edgeMargin);
        gtk_widget_set_margin_bottom(nextUp_, 140);
        nextTitle_ = safeLabel("");
        gtk_label_set_xalign(GTK_LABEL(nextTitle_), 0);
        gtk_label_set_ellipsize(GTK_LABEL(nextTitle_), PANGO_ELLIPSIZE_END);
        gtk_label_set_max_width_chars(GTK_LABEL(nextTitle_), 40);
        nextCountdown_ = safeLabel("");
        gtk_label_set_xalign(GTK_LABEL(nextCountdown_), 0);
        GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
        GtkWidget* now = labelButton("Reproducir ahora");
        GtkWidget* cancel = labelButton("Cancelar");
        handlers_.connect(now, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                              auto action = static_cast<GtkPlayerView*>(d)->events_.playNextNow;
                              if (action) action();  // may destroy this view
                          }), this);
        handlers_.connect(cancel, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                              auto action = static_cast<GtkPlayerView*>(d)->events_.cancelNext;
                              if (action) action();
                          }), this);
        gtk_box_pack_start(GTK_BOX(buttons), now, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(buttons), cancel, FALSE, FALSE, 0);
        for (GtkWidget* w : {nextTitle_, nextCountdown_, buttons}) {
            gtk_widget_set_margin_start(w, 14);
            gtk_widget_set_margin_end(w, 14);
            gtk_box_pack_start(GTK_BOX(nextUp_), w, FALSE, FALSE, 0);
        }
        gtk_widget_set_margin_top(nextTitle_, 12);
        gtk_widget_set_margin_bottom(buttons, 12);
        PangoAttrList* bold = pango_attr_list_new();
        pango_attr_list_insert(bold, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
        gtk_label_set_attributes(GTK_LABEL(nextTitle_), bold);
        pango_attr_list_unref(bold);
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), nextUp_);
        gtk_widget_show_all(nextUp_);
        gtk_widget_set_no_show_all(nextUp_, TRUE);
        gtk_widget_hide(nextUp_);
    }

    void buildSkipIntro() {
        skipIntro_ = labelButton("Saltar intro");
        gtk_widget_set_halign(skipIntro_, GTK_ALIGN_END);
        gtk_widget_set_valign(skipIntro_, GTK_ALIGN_END);
        gtk_widget_set_margin_end(skipIntro_, edgeMargin);
        gtk_widget_set_margin_bottom(skipIntro_, 96);
        handlers_.connect(skipIntro_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                              auto action = static_cast<GtkPlayerView*>(d)->events_.skipIntro;
                              if (action) action();
                          }), this);
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), skipIntro_);
        gtk_widget_set_no_show_all(skipIntro_, TRUE);
        gtk_widget_hide(skipIntro_);
    }

    GtkWindow* toplevelWindow() const {
        GtkWidget* toplevel = gtk_widget_get_toplevel(root_.get());
        return GTK_IS_WINDOW(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
    }

    void toggleFullscreen() {
        if (fullscreenWindow_) {
            leaveFullscreen();
            return;
        }
        if (GtkWindow* window = toplevelWindow()) {
            fullscreenWindow_ = ref(window);
            gtk_window_fullscreen(window);
            controls_.setFullscreen(true);
        }
    }

    void leaveFullscreen() {
        if (!fullscreenWindow_) return;
        gtk_window_unfullscreen(fullscreenWindow_.get());
        fullscreenWindow_.reset();
        controls_.setFullscreen(false);
    }

    void startPictureInPicture() {
        if (!pipAllowed_ || pip_ || player_.expired()) return;
        GtkWidget* video = gtk_bin_get_child(GTK_BIN(video_));
        if (!video) return;
        leaveFullscreen();
        if (pipDelegate_.shouldAutomaticallyDismissAtStart) pipDelegate_.shouldAutomaticallyDismissAtStart(*this);
        pip_ = std::make_unique<PictureInPictureWindow>(
            video, [this] { endPictureInPicture(true); }, [this] { endPictureInPicture(false); },
            [this](GtkWindow* window, GdkEventKey* event) {
                return controls_.handleKey(event, gtk_window_get_focus(window));
            });
        if (pipDelegate_.didStart) pipDelegate_.didStart(*this);
    }

    // The return control asks to restore the interface first, then the picture
    // ends; closing the window only ends it.
    void endPictureInPicture(bool restore) {
        if (!pip_) return;
        pip_->giveBack(video_);
        pip_.reset();
        // Nothing waits on the answer: the view is back in place already.
        if (restore && pipDelegate_.restoreUserInterface) pipDelegate_.restoreUserInterface(*this, [](bool) {});
        if (pipDelegate_.didStop) pipDelegate_.didStop(*this);
    }

    GRef<GtkOverlay> host_;
    GRef<GtkWidget> root_;
    GtkWidget* video_ = nullptr;
    SignalHandlers handlers_;
    PlayerControls controls_;
    std::weak_ptr<Player> player_;
    SignalHandlers keys_;  // on the toplevel window, for as long as it is ours
    bool pipAllowed_ = false;
    PictureInPictureDelegate pipDelegate_;
    std::unique_ptr<PictureInPictureWindow> pip_;
    GRef<GtkWindow> fullscreenWindow_;
    std::function<void()> backAction_;
    PlayerViewEvents events_;
    GtkWidget* nextUp_ = nullptr;
    GtkWidget* nextTitle_ = nullptr;
    GtkWidget* nextCountdown_ = nullptr;
    GtkWidget* skipIntro_ = nullptr;
    double scrollGathered_ = 0;
};

}  // namespace

std::unique_ptr<PlayerView> createPlayerView(View& content) {
    return std::make_unique<GtkPlayerView>(content);
}

}  // namespace brindlemar::gtk
