#include "platform/gtk/gtk_main_window.hpp"

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gsignals.hpp"
#include "platform/gtk/gtk_view.hpp"

namespace brindlemar::gtk {

namespace {

class GtkMainWindow final : public Window {
public:
    GtkMainWindow(GtkApplication* app, GMenuModel* menuBar, int width, int height,
                  std::function<void()> closed)
        : closed_(std::move(closed)) {
        window_ = ref(GTK_WINDOW(gtk_application_window_new(app)));
        gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_.get()), FALSE);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        if (menuBar) {
            menuBar_ = gtk_menu_bar_new_from_model(menuBar);
            gtk_box_pack_start(GTK_BOX(box), menuBar_, FALSE, FALSE, 0);
        }
        content_ = gtk_event_box_new();
        gtk_box_pack_start(GTK_BOX(box), content_, TRUE, TRUE, 0);
        gtk_container_add(GTK_CONTAINER(window_.get()), box);
        gtk_widget_show_all(box);
        gtk_window_set_default_size(window_.get(), width, height + menuBarHeight());
        handlers_.connect(window_.get(), "delete-event", G_CALLBACK(onDelete), this);
    }

    ~GtkMainWindow() override {
        handlers_.clear();
        gtk_widget_destroy(GTK_WIDGET(window_.get()));
    }

    void setTitle(const std::string& title) override {
        gtk_window_set_title(window_.get(), title.c_str());
    }

    void setMinSize(int width, int height) override {
        // The limit is for the content; the menu bar comes on top of it.
        GdkGeometry hints{};
        hints.min_width = width;
        hints.min_height = height + menuBarHeight();
        gtk_window_set_geometry_hints(window_.get(), nullptr, &hints, GDK_HINT_MIN_SIZE);
    }

    void setContentView(View& view) override {
        GtkOverlay* host = hostOf(view);
        if (!host) return;
        moveInto(GTK_WIDGET(host), GTK_CONTAINER(content_));
        contentView_ = &view;
        if (owned_ && owned_.get() != &view) owned_.reset();
    }

    void setContentView(std::unique_ptr<View> view) override {
        View& shown = *view;
        std::unique_ptr<View> previous = std::move(owned_);
        owned_ = std::move(view);
        setContentView(shown);
    }

    GdkWindow* gdkWindow() const { return gtk_widget_get_window(GTK_WIDGET(window_.get())); }

    View* contentView() const override { return contentView_; }

    void center() override { gtk_window_set_position(window_.get(), GTK_WIN_POS_CENTER); }

    void makeKeyAndOrderFront() override { gtk_window_present(window_.get()); }

private:
    int menuBarHeight() const {
        if (!menuBar_) return 0;
        int natural = 0;
        gtk_widget_get_preferred_height(menuBar_, nullptr, &natural);
        return natural;
    }

    static gboolean onDelete(GtkWidget* widget, GdkEvent*, gpointer data) {
        auto* self = static_cast<GtkMainWindow*>(data);
        // The window is only hidden: the web view and its page live on, and the
        // application decides whether it quits.
        gtk_widget_hide(widget);
        if (self->closed_) self->closed_();
        return TRUE;
    }

    std::function<void()> closed_;
    GRef<GtkWindow> window_;
    GtkWidget* menuBar_ = nullptr;
    GtkWidget* content_ = nullptr;
    View* contentView_ = nullptr;
    std::unique_ptr<View> owned_;
    SignalHandlers handlers_;
};

}  // namespace

GdkWindow* gdkWindowOf(Window& window) {
    auto* main = dynamic_cast<GtkMainWindow*>(&window);
    return main ? main->gdkWindow() : nullptr;
}

std::unique_ptr<Window> createMainWindow(GtkApplication* app, GMenuModel* menuBar, int width,
                                         int height, std::function<void()> closed) {
    return std::make_unique<GtkMainWindow>(app, menuBar, width, height, std::move(closed));
}

}  // namespace brindlemar::gtk
