#include "platform/gtk/gtk_player_controls.hpp"

#include <gtk/gtk-a11y.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/media_time.hpp"
#include "player/language_selection.hpp"

namespace brindlemar::gtk {

namespace {

constexpr guint hideAfterMs = 3000;
constexpr double keySeekSeconds = 10.0;

// What a track menu entry selects.
struct TrackChoice {
    PlayerControls* controls;
    std::optional<std::size_t> index;
    MediaCharacteristic characteristic;
};

}  // namespace

// ---- widgets whose accessible may outlive them ----
//
// The views of playback (the control bar, the back button, picture-in-picture, the
// mini-player's placeholder) are made and destroyed with every video. The
// accessibility bridge keeps for some fifteen seconds the accessible object of a
// widget that it handed to a screen reader before it had cached it, and caches it
// meanwhile; every reader that connects in that time reads the state of each cached
// object. GTK's own accessibles for labels, buttons and menu items cannot answer
// without their widget: they print a critical and give no state at all (a popover's
// prints one more). The widgets made here answer "defunct", as GTK's other
// accessibles of a destroyed widget do. GTK's volume button is not used: its popover
// and the buttons inside it are GTK's own.

namespace {

AtkStateSet* stateOrDefunct(AtkObject* accessible) {
    if (!gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible))) {
        AtkStateSet* states = atk_state_set_new();
        atk_state_set_add_state(states, ATK_STATE_DEFUNCT);
        return states;
    }
    auto* parent = ATK_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(accessible)));
    return parent->ref_state_set(accessible);
}

// A subclass of `base` named `name`, with `classInit` for its class.
GType subclass(GType base, const char* name, GClassInitFunc classInit, gpointer classData) {
    GTypeQuery query;
    g_type_query(base, &query);
    GTypeInfo info{};
    info.class_size = static_cast<guint16>(query.class_size);
    info.instance_size = static_cast<guint16>(query.instance_size);
    info.class_init = classInit;
    info.class_data = classData;
    return g_type_register_static(base, name, &info, GTypeFlags(0));
}

// A new widget of the subclass "Brindlemar<Name>" of the GTK widget type `widget`
// ("Gtk<Name>"), whose accessible is a subclass of `accessible` (the one GTK gives
// `widget`) that answers "defunct" once the widget is gone.
GtkWidget* defunctSafe(GType widget, GType accessible) {
    const std::string name = std::string("Brindlemar") + (g_type_name(widget) + 3);
    GType type = g_type_from_name(name.c_str());
    if (!type) {
        GType safeAccessible = subclass(
            accessible, (name + "Accessible").c_str(),
            [](gpointer klass, gpointer) { ATK_OBJECT_CLASS(klass)->ref_state_set = stateOrDefunct; }, nullptr);
        type = subclass(
            widget, name.c_str(),
            [](gpointer klass, gpointer data) {
                gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), GPOINTER_TO_SIZE(data));
            },
            GSIZE_TO_POINTER(safeAccessible));
    }
    return GTK_WIDGET(g_object_new(type, nullptr));
}

GtkWidget* menuButton(const char* label) {
    GtkWidget* button = defunctSafe(GTK_TYPE_MENU_BUTTON, GTK_TYPE_MENU_BUTTON_ACCESSIBLE);
    gtk_container_add(GTK_CONTAINER(button), safeLabel(label));
    setAccessibleName(button, label);
    return button;
}

// A menu entry showing `label`: a radio entry joining `group` when `radio`.
GtkWidget* menuEntry(const char* label, bool radio, GSList* group) {
    GtkWidget* entry = radio ? defunctSafe(GTK_TYPE_RADIO_MENU_ITEM, GTK_TYPE_RADIO_MENU_ITEM_ACCESSIBLE)
                             : defunctSafe(GTK_TYPE_MENU_ITEM, GTK_TYPE_MENU_ITEM_ACCESSIBLE);
    if (radio) gtk_radio_menu_item_set_group(GTK_RADIO_MENU_ITEM(entry), group);
    GtkWidget* text = safeLabel(label);
    gtk_label_set_xalign(GTK_LABEL(text), 0);
    gtk_container_add(GTK_CONTAINER(entry), text);
    return entry;
}

}  // namespace

GtkWidget* safeLabel(const char* text) {
    GtkWidget* label = defunctSafe(GTK_TYPE_LABEL, GTK_TYPE_LABEL_ACCESSIBLE);
    gtk_label_set_text(GTK_LABEL(label), text);
    // Shown, as GTK's own labelled buttons show theirs: a button shown alone shows it.
    gtk_widget_show(label);
    return label;
}

void setAccessibleName(GtkWidget* widget, const char* name) {
    gtk_widget_set_tooltip_text(widget, name);
    if (AtkObject* accessible = gtk_widget_get_accessible(widget)) atk_object_set_name(accessible, name);
}

GtkWidget* labelButton(const char* label) {
    GtkWidget* button = defunctSafe(GTK_TYPE_BUTTON, GTK_TYPE_BUTTON_ACCESSIBLE);
    gtk_container_add(GTK_CONTAINER(button), safeLabel(label));
    return button;
}

GtkWidget* iconButton(const char* iconName, const char* name) {
    GtkWidget* button = defunctSafe(GTK_TYPE_BUTTON, GTK_TYPE_BUTTON_ACCESSIBLE);
    gtk_button_set_image(GTK_BUTTON(button), gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_BUTTON));
    gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
    setAccessibleName(button, name);
    return button;
}

PlayerControls::PlayerControls(Actions actions) : actions_(std::move(actions)) {
    revealer_ = sink(gtk_revealer_new());
    GtkWidget* revealer = revealer_.get();
    gtk_revealer_set_transition_type(GTK_REVEALER(revealer), GTK_REVEALER_TRANSITION_TYPE_CROSSFADE);
    gtk_widget_set_valign(revealer, GTK_ALIGN_END);
    gtk_widget_set_halign(revealer, GTK_ALIGN_FILL);

    GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_style_context_add_class(gtk_widget_get_style_context(bar), "osd");
    gtk_widget_set_margin_start(bar, 12);
    gtk_widget_set_margin_end(bar, 12);
    gtk_widget_set_margin_bottom(bar, 12);
    gtk_container_set_border_width(GTK_CONTAINER(bar), 6);
    gtk_container_add(GTK_CONTAINER(revealer), bar);

    playButton_ = iconButton("media-playback-pause-symbolic", "Pausa");
    handlers_.connect(playButton_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                          static_cast<PlayerControls*>(d)->togglePause();
                      }), this);

    elapsed_ = safeLabel("0:00");
    total_ = safeLabel("0:00");
    seekBar_ = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 1, 1);
    gtk_scale_set_draw_value(GTK_SCALE(seekBar_), FALSE);
    gtk_widget_set_hexpand(seekBar_, TRUE);
    setAccessibleName(seekBar_, "Posición");
    handlers_.connect(seekBar_, "value-changed", G_CALLBACK(+[](GtkRange* range, gpointer d) {
                          auto* self = static_cast<PlayerControls*>(d);
                          if (self->updatingControls_) return;
                          if (auto player = self->player_.lock()) player->seek(gtk_range_get_value(range));
                      }), this);

    // A slider in the bar, not GTK's volume button (see defunctSafe).
    volume_ = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 1, 0.05);
    gtk_scale_set_draw_value(GTK_SCALE(volume_), FALSE);
    gtk_widget_set_size_request(volume_, 80, -1);
    gtk_range_set_value(GTK_RANGE(volume_), 1.0);
    setAccessibleName(volume_, "Volumen");
    handlers_.connect(volume_, "value-changed", G_CALLBACK(+[](GtkRange* range, gpointer d) {
                          auto* self = static_cast<PlayerControls*>(d);
                          if (self->updatingControls_) return;
                          if (auto player = self->player_.lock()) player->setVolume(gtk_range_get_value(range));
                      }), this);

    GtkWidget* audioButton = menuButton("Audio");
    GtkWidget* subtitleButton = menuButton("Subtítulos");
    for (auto [button, characteristic] : {std::pair{audioButton, MediaCharacteristic::Audible},
                                          std::pair{subtitleButton, MediaCharacteristic::Legible}}) {
        GtkWidget* menu = gtk_menu_new();
        gtk_menu_button_set_popup(GTK_MENU_BUTTON(button), menu);
        g_object_set_data(G_OBJECT(menu), "characteristic", GINT_TO_POINTER(static_cast<int>(characteristic)));
        // The tracks are read as the menu is shown, before it is sized and placed, so it
        // always lists the current ones in full.
        handlers_.connect(menu, "show", G_CALLBACK(+[](GtkWidget* popup, gpointer d) {
                              auto c = static_cast<MediaCharacteristic>(
                                  GPOINTER_TO_INT(g_object_get_data(G_OBJECT(popup), "characteristic")));
                              static_cast<PlayerControls*>(d)->fillTrackMenu(popup, c);
                          }), this);
    }

    fullscreenButton_ = iconButton("view-fullscreen-symbolic", "Pantalla completa");
    handlers_.connect(fullscreenButton_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                          auto action = static_cast<PlayerControls*>(d)->actions_.toggleFullscreen;
                          if (action) action();
                      }), this);
    pipButton_ = iconButton("view-restore-symbolic", "Imagen en imagen");
    handlers_.connect(pipButton_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                          auto action = static_cast<PlayerControls*>(d)->actions_.pictureInPicture;
                          if (action) action();  // may destroy these controls
                      }), this);

    for (GtkWidget* w : {playButton_, elapsed_, seekBar_, total_, volume_, audioButton, subtitleButton,
                         fullscreenButton_, pipButton_})
        gtk_box_pack_start(GTK_BOX(bar), w, w == seekBar_, w == seekBar_, 0);
    gtk_widget_show_all(revealer);
    gtk_widget_set_no_show_all(pipButton_, TRUE);
    gtk_widget_hide(pipButton_);
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer), TRUE);
    scheduleHide();
}

PlayerControls::~PlayerControls() {
    detach();
    g_clear_handle_id(&hideSource_, g_source_remove);
    handlers_.clear();
    // Destroyed here, not left to the last reference: popovers and menus of the bar
    // go with it while their accessible objects can still reach the widgets.
    gtk_widget_destroy(revealer_.get());
}

void PlayerControls::detach() {
    rateObservation_.reset();
    if (timeToken_) {
        // A player that is gone took its time observers with it.
        if (auto player = player_.lock()) player->removeTimeObserver(*timeToken_);
        timeToken_.reset();
    }
    player_.reset();
}

void PlayerControls::setPlayer(std::weak_ptr<Player> player) {
    detach();
    player_ = std::move(player);
    auto current = player_.lock();
    if (!current) return;
    rateObservation_ = current->observeTimeControlStatus([this] { refreshPlayState(); });
    timeToken_ = current->addPeriodicTimeObserver(std::chrono::milliseconds(500),
                                                  [this](double seconds) { refreshTime(seconds); });
    if (std::optional<double> volume = current->volume()) {
        updatingControls_ = true;
        gtk_range_set_value(GTK_RANGE(volume_), *volume);
        updatingControls_ = false;
    }
    refreshPlayState();
}

void PlayerControls::setPictureInPictureAllowed(bool allowed) {
    gtk_widget_set_visible(pipButton_, allowed);
}

void PlayerControls::setFullscreen(bool fullscreen) {
    const char* name = fullscreen ? "Salir de pantalla completa" : "Pantalla completa";
    gtk_button_set_image(GTK_BUTTON(fullscreenButton_),
                         gtk_image_new_from_icon_name(fullscreen ? "view-restore-symbolic" : "view-fullscreen-symbolic",
                                                      GTK_ICON_SIZE_BUTTON));
    setAccessibleName(fullscreenButton_, name);
}

void PlayerControls::poke() {
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer_.get()), TRUE);
    scheduleHide();
}

void PlayerControls::scheduleHide() {
    g_clear_handle_id(&hideSource_, g_source_remove);
    hideSource_ = g_timeout_add(hideAfterMs, [](gpointer d) -> gboolean {
        auto* self = static_cast<PlayerControls*>(d);
        self->hideSource_ = 0;
        // A paused video keeps its controls in sight.
        auto player = self->player_.lock();
        if (player && player->timeControlStatus() != TimeControlStatus::Paused)
            gtk_revealer_set_reveal_child(GTK_REVEALER(self->revealer_.get()), FALSE);
        return G_SOURCE_REMOVE;
    }, this);
}

bool PlayerControls::handleKey(guint keyval) {
    switch (keyval) {
        case GDK_KEY_space: togglePause(); break;
        case GDK_KEY_Left: seekBy(-keySeekSeconds); break;
        case GDK_KEY_Right: seekBy(keySeekSeconds); break;
        default: return false;
    }
    poke();
    return true;
}

void PlayerControls::togglePause() {
    auto player = player_.lock();
    if (!player) return;
    if (player->timeControlStatus() == TimeControlStatus::Paused) {
        player->play();
    } else {
        player->pause();
    }
}

void PlayerControls::seekBy(double seconds) {
    auto player = player_.lock();
    if (!player) return;
    double target = std::max(0.0, lastPosition_ + seconds);
    if (auto item = player->currentItem()) {
        if (auto duration = item->duration()) target = std::min(target, *duration);
    }
    lastPosition_ = target;
    player->seek(target);
}

void PlayerControls::refreshTime(double seconds) {
    lastPosition_ = seconds;
    double duration = 0;
    auto player = player_.lock();
    if (auto item = player ? player->currentItem() : nullptr) duration = item->duration().value_or(0);
    updatingControls_ = true;
    gtk_range_set_range(GTK_RANGE(seekBar_), 0, std::max(duration, 1.0));
    gtk_range_set_value(GTK_RANGE(seekBar_), seconds);
    updatingControls_ = false;
    gtk_label_set_text(GTK_LABEL(elapsed_), clockText(seconds).c_str());
    gtk_label_set_text(GTK_LABEL(total_), clockText(duration).c_str());
}

void PlayerControls::refreshPlayState() {
    auto player = player_.lock();
    bool paused = !player || player->timeControlStatus() == TimeControlStatus::Paused;
    gtk_button_set_image(GTK_BUTTON(playButton_),
                         gtk_image_new_from_icon_name(paused ? "media-playback-start-symbolic"
                                                             : "media-playback-pause-symbolic",
                                                      GTK_ICON_SIZE_BUTTON));
    setAccessibleName(playButton_, paused ? "Reproducir" : "Pausa");
    if (paused) gtk_revealer_set_reveal_child(GTK_REVEALER(revealer_.get()), TRUE);
}

void PlayerControls::fillTrackMenu(GtkWidget* menu, MediaCharacteristic characteristic) {
    gtk_container_foreach(GTK_CONTAINER(menu), [](GtkWidget* child, gpointer) { gtk_widget_destroy(child); },
                          nullptr);
    auto player = player_.lock();
    std::shared_ptr<PlayerItem> item = player ? player->currentItem() : nullptr;
    auto options = item ? item->mediaSelectionOptions(characteristic) : std::nullopt;
    std::optional<std::size_t> current = player ? player->selectedMediaOption(characteristic) : std::nullopt;
    GSList* group = nullptr;
    auto add = [&](const std::string& label, std::optional<std::size_t> index) {
        GtkWidget* entry = menuEntry(label.c_str(), true, group);
        group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(entry));
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(entry), index == current);
        g_object_set_data_full(G_OBJECT(entry), "choice", new TrackChoice{this, index, characteristic},
                               [](gpointer p) { delete static_cast<TrackChoice*>(p); });
        // The entry lives inside these controls' menu and goes with it: its handler
        // and its choice are its own.
        g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkMenuItem* menuItem, gpointer) {
                             if (!gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(menuItem))) return;
                             auto* choice = static_cast<TrackChoice*>(g_object_get_data(G_OBJECT(menuItem), "choice"));
                             choice->controls->selectTrack(choice->index, choice->characteristic);
                         }), nullptr);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
    };
    if (characteristic == MediaCharacteristic::Legible) add("Desactivados", std::nullopt);
    if (options) {
        for (std::size_t i = 0; i < options->size(); ++i) {
            const MediaOption& option = (*options)[i];
            std::string tag = option.extendedLanguageTag.value_or(option.localeIdentifier.value_or(""));
            std::string label = tag.empty() ? "Pista " + std::to_string(i + 1) : languageDisplayName(tag);
            if (option.external) label = tag.empty() ? "Archivo de subtítulos" : label + " (archivo)";
            add(label, i);
        }
    }
    if (!options || options->empty()) {
        GtkWidget* none = menuEntry("Sin pistas", false, nullptr);
        gtk_widget_set_sensitive(none, FALSE);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), none);
    }
    gtk_widget_show_all(menu);
}

void PlayerControls::selectTrack(std::optional<std::size_t> index, MediaCharacteristic characteristic) {
    auto player = player_.lock();
    if (auto item = player ? player->currentItem() : nullptr) item->selectMediaOption(index, characteristic);
}

}  // namespace brindlemar::gtk
