#include "platform/gtk/gtk_player_controls.hpp"

#include <gtk/gtk-a11y.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/media_time.hpp"
#include "player/chapters.hpp"
#include "player/language_selection.hpp"
#include "player/player_keys.hpp"
#include "player/player_steps.hpp"

namespace brindlemar::gtk {

namespace {

constexpr guint hideAfterMs = 3000;
constexpr guint messageMs = 1500;
constexpr double keySeekSeconds = 10.0;
constexpr double volumeStep = 0.05;

std::string trackLabel(const MediaOption& option, std::size_t index) {
    std::string tag = option.extendedLanguageTag.value_or(option.localeIdentifier.value_or(""));
    std::string label = tag.empty() ? "Pista " + std::to_string(index + 1) : languageDisplayName(tag);
    if (option.external) label = tag.empty() ? "Archivo de subtítulos" : label + " (archivo)";
    return label;
}

}  // namespace

// ---- widgets whose accessible may outlive them ----
//
// The views of playback (the control bar, the back button, picture-in-picture, the
// mini-player's placeholder) are made and destroyed with every video. The
// accessibility bridge keeps for some fifteen seconds the accessible object of a
// widget that it handed to a screen reader before it had cached it, and caches it
// meanwhile; every reader that connects in that time reads the state of each cached
// object. GTK's own accessibles for labels, buttons, menu items and sliders cannot answer
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
// `widget`) that answers "defunct" once the widget is gone. `safeAccessible` may make
// more of that accessible safe (see safeScale); it is called once, with its type.
GtkWidget* defunctSafe(GType widget, GType accessible, void (*safeAccessible)(GType) = nullptr) {
    const std::string name = std::string("Brindlemar") + (g_type_name(widget) + 3);
    GType type = g_type_from_name(name.c_str());
    if (!type) {
        GType safe = subclass(
            accessible, (name + "Accessible").c_str(),
            [](gpointer klass, gpointer) { ATK_OBJECT_CLASS(klass)->ref_state_set = stateOrDefunct; }, nullptr);
        if (safeAccessible) safeAccessible(safe);
        type = subclass(
            widget, name.c_str(),
            [](gpointer klass, gpointer data) {
                gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), GPOINTER_TO_SIZE(data));
            },
            GSIZE_TO_POINTER(safe));
    }
    return GTK_WIDGET(g_object_new(type, nullptr));
}

// A slider's value as a screen reader reads it: GTK's range accessible asks the widget
// for its adjustment without checking that it is still there. Once it is gone, these
// answer nothing (and set nothing); before, GTK's own answer.
const AtkValueIface* rangeValue = nullptr;

bool rangeGone(AtkValue* value) {
    return !gtk_accessible_get_widget(GTK_ACCESSIBLE(value));
}

void safeValueInit(gpointer iface, gpointer) {
    auto* value = static_cast<AtkValueIface*>(iface);
    rangeValue = static_cast<const AtkValueIface*>(g_type_interface_peek_parent(iface));
    value->get_current_value = [](AtkValue* v, GValue* out) {
        if (!rangeGone(v)) rangeValue->get_current_value(v, out);
    };
    value->get_maximum_value = [](AtkValue* v, GValue* out) {
        if (!rangeGone(v)) rangeValue->get_maximum_value(v, out);
    };
    value->get_minimum_value = [](AtkValue* v, GValue* out) {
        if (!rangeGone(v)) rangeValue->get_minimum_value(v, out);
    };
    value->get_minimum_increment = [](AtkValue* v, GValue* out) {
        if (!rangeGone(v)) rangeValue->get_minimum_increment(v, out);
    };
    value->set_current_value = [](AtkValue* v, const GValue* in) -> gboolean {
        return !rangeGone(v) && rangeValue->set_current_value(v, in);
    };
    value->get_value_and_text = [](AtkValue* v, gdouble* number, gchar** text) {
        if (number) *number = 0;
        if (text) *text = nullptr;
        if (!rangeGone(v)) rangeValue->get_value_and_text(v, number, text);
    };
    value->get_range = [](AtkValue* v) -> AtkRange* { return rangeGone(v) ? nullptr : rangeValue->get_range(v); };
    value->get_increment = [](AtkValue* v) -> gdouble { return rangeGone(v) ? 0 : rangeValue->get_increment(v); };
    value->set_value = [](AtkValue* v, gdouble number) {
        if (!rangeGone(v)) rangeValue->set_value(v, number);
    };
}

// A horizontal slider from `min` to `max` in steps of `step` (values rounded as GTK's
// own gtk_scale_new_with_range rounds them), safe for screen readers after it goes.
GtkWidget* safeScale(double min, double max, double step) {
    GtkWidget* scale = defunctSafe(GTK_TYPE_SCALE, GTK_TYPE_SCALE_ACCESSIBLE, [](GType accessible) {
        const GInterfaceInfo value{safeValueInit, nullptr, nullptr};
        g_type_add_interface_static(accessible, ATK_TYPE_VALUE, &value);
    });
    gtk_range_set_adjustment(GTK_RANGE(scale), gtk_adjustment_new(min, min, max, step, 10 * step, 0));
    const int digits = step >= 1 ? 0 : std::min(5, static_cast<int>(std::ceil(-std::log10(step))));
    gtk_scale_set_digits(GTK_SCALE(scale), digits);
    return scale;
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

// Empties a menu of the entries of its last showing.
void clearMenu(GtkWidget* menu) {
    gtk_container_foreach(GTK_CONTAINER(menu), [](GtkWidget* child, gpointer) { gtk_widget_destroy(child); },
                          nullptr);
}

// A radio entry of `menu`, joining `group`, checked when `active`; choosing it calls
// `chosen`. The entry lives inside the controls' menu and goes with it: its handler
// and its callback are its own.
void addRadioEntry(GtkWidget* menu, GSList*& group, const std::string& label, bool active,
                   std::function<void()> chosen) {
    GtkWidget* entry = menuEntry(label.c_str(), true, group);
    group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(entry));
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(entry), active);
    g_object_set_data_full(G_OBJECT(entry), "chosen", new std::function<void()>(std::move(chosen)),
                           [](gpointer p) { delete static_cast<std::function<void()>*>(p); });
    g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkMenuItem* menuItem, gpointer) {
                         if (!gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(menuItem))) return;
                         auto chosen = *static_cast<std::function<void()>*>(g_object_get_data(G_OBJECT(menuItem), "chosen"));
                         chosen();
                     }), nullptr);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
}

// A small button whose command is performed by the controls that made it.
struct CommandButton {
    PlayerControls* controls;
    PlayerCommand command;
};

// A box on the dark background of on-picture controls; what it holds keeps `padding`
// px from its edges.
GtkWidget* osdBox(GtkOrientation orientation, int spacing) {
    GtkWidget* box = gtk_box_new(orientation, spacing);
    gtk_style_context_add_class(gtk_widget_get_style_context(box), "osd");
    return box;
}

void pad(GtkWidget* widget, int padding) {
    gtk_widget_set_margin_start(widget, padding);
    gtk_widget_set_margin_end(widget, padding);
    gtk_widget_set_margin_top(widget, padding);
    gtk_widget_set_margin_bottom(widget, padding);
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
    seekBar_ = safeScale(0, 1, 1);
    gtk_scale_set_draw_value(GTK_SCALE(seekBar_), FALSE);
    gtk_widget_set_hexpand(seekBar_, TRUE);
    if (AtkObject* accessible = gtk_widget_get_accessible(seekBar_)) atk_object_set_name(accessible, "Posición");
    // Hovering tells the time under the pointer and its chapter's title.
    gtk_widget_set_has_tooltip(seekBar_, TRUE);
    handlers_.connect(seekBar_, "query-tooltip",
                      G_CALLBACK(+[](GtkWidget* widget, gint x, gint, gboolean keyboard, GtkTooltip* tooltip,
                                     gpointer d) -> gboolean {
                          auto* self = static_cast<PlayerControls*>(d);
                          double seconds = gtk_range_get_value(GTK_RANGE(widget));
                          if (!keyboard) {
                              GdkRectangle trough;
                              gtk_range_get_range_rect(GTK_RANGE(widget), &trough);
                              const double share = trough.width > 0 ? double(x - trough.x) / trough.width : 0;
                              seconds = std::clamp(share, 0.0, 1.0) * self->duration_;
                          }
                          std::string text = clockText(seconds);
                          std::string chapter = self->chapterTitleAt(seconds);
                          if (!chapter.empty()) text += " \u00b7 " + chapter;
                          gtk_tooltip_set_text(tooltip, text.c_str());
                          return TRUE;
                      }), this);
    handlers_.connect(seekBar_, "value-changed", G_CALLBACK(+[](GtkRange* range, gpointer d) {
                          auto* self = static_cast<PlayerControls*>(d);
                          if (self->updatingControls_) return;
                          if (auto player = self->player_.lock()) player->seek(gtk_range_get_value(range));
                      }), this);

    muteButton_ = iconButton("audio-volume-high-symbolic", "Silenciar");
    handlers_.connect(muteButton_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                          static_cast<PlayerControls*>(d)->perform(PlayerCommand::ToggleMute);
                      }), this);
    // A slider in the bar, not GTK's volume button (see defunctSafe). Past the mark
    // at 100 % the sound is boosted.
    volume_ = safeScale(0, Player::maxVolume, volumeStep);
    gtk_scale_set_draw_value(GTK_SCALE(volume_), FALSE);
    gtk_scale_add_mark(GTK_SCALE(volume_), 1.0, GTK_POS_BOTTOM, nullptr);
    gtk_widget_set_size_request(volume_, 96, -1);
    gtk_range_set_value(GTK_RANGE(volume_), 1.0);
    setAccessibleName(volume_, "Volumen");
    handlers_.connect(volume_, "value-changed", G_CALLBACK(+[](GtkRange* range, gpointer d) {
                          auto* self = static_cast<PlayerControls*>(d);
                          if (self->updatingControls_) return;
                          if (auto player = self->player_.lock()) player->setVolume(gtk_range_get_value(range));
                      }), this);

    speedButton_ = menuButton("1\u00d7");
    setAccessibleName(speedButton_, "Velocidad");
    GtkWidget* speedMenu = gtk_menu_new();
    gtk_menu_button_set_popup(GTK_MENU_BUTTON(speedButton_), speedMenu);
    popups_.push_back(speedMenu);
    handlers_.connect(speedMenu, "show", G_CALLBACK(+[](GtkWidget* popup, gpointer d) {
                          static_cast<PlayerControls*>(d)->fillSpeedMenu(popup);
                      }), this);

    GtkWidget* settingsButton = defunctSafe(GTK_TYPE_MENU_BUTTON, GTK_TYPE_MENU_BUTTON_ACCESSIBLE);
    gtk_button_set_image(GTK_BUTTON(settingsButton),
                         gtk_image_new_from_icon_name("preferences-system-symbolic", GTK_ICON_SIZE_BUTTON));
    gtk_button_set_relief(GTK_BUTTON(settingsButton), GTK_RELIEF_NONE);
    setAccessibleName(settingsButton, "Ajustes de reproducción");
    GtkWidget* settingsPopover = buildSettingsPopover(settingsButton);
    gtk_menu_button_set_popover(GTK_MENU_BUTTON(settingsButton), settingsPopover);
    popups_.push_back(settingsPopover);

    GtkWidget* audioButton = menuButton("Audio");
    GtkWidget* subtitleButton = menuButton("Subtítulos");
    for (auto [button, characteristic] : {std::pair{audioButton, MediaCharacteristic::Audible},
                                          std::pair{subtitleButton, MediaCharacteristic::Legible}}) {
        GtkWidget* menu = gtk_menu_new();
        gtk_menu_button_set_popup(GTK_MENU_BUTTON(button), menu);
        popups_.push_back(menu);
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

    // A click leaves the keyboard where it was: only Tab brings it into the bar.
    for (GtkWidget* w : {playButton_, elapsed_, seekBar_, total_, muteButton_, volume_, speedButton_, settingsButton,
                         audioButton, subtitleButton, fullscreenButton_, pipButton_}) {
        gtk_widget_set_focus_on_click(w, FALSE);
        gtk_box_pack_start(GTK_BOX(bar), w, w == seekBar_, w == seekBar_, 0);
    }
    gtk_widget_show_all(revealer);
    gtk_widget_set_no_show_all(pipButton_, TRUE);
    gtk_widget_hide(pipButton_);

    // The message over the picture.
    message_ = sink(osdBox(GTK_ORIENTATION_HORIZONTAL, 0));
    gtk_widget_set_halign(message_.get(), GTK_ALIGN_CENTER);
    gtk_widget_set_valign(message_.get(), GTK_ALIGN_START);
    gtk_widget_set_margin_top(message_.get(), 24);
    messageText_ = safeLabel("");
    pad(messageText_, 10);
    gtk_container_add(GTK_CONTAINER(message_.get()), messageText_);
    gtk_widget_set_no_show_all(message_.get(), TRUE);

    // The list of keys.
    help_ = sink(osdBox(GTK_ORIENTATION_VERTICAL, 8));
    gtk_widget_set_halign(help_.get(), GTK_ALIGN_CENTER);
    gtk_widget_set_valign(help_.get(), GTK_ALIGN_CENTER);
    GtkWidget* heading = safeLabel("Teclas del reproductor");
    gtk_style_context_add_class(gtk_widget_get_style_context(heading), "title");
    PangoAttrList* bold = pango_attr_list_new();
    pango_attr_list_insert(bold, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    gtk_label_set_attributes(GTK_LABEL(heading), bold);
    gtk_widget_set_margin_top(heading, 16);
    gtk_container_add(GTK_CONTAINER(help_.get()), heading);
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 24);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    int row = 0;
    auto addLine = [&](const std::string& keys, const std::string& action) {
        GtkWidget* keyLabel = safeLabel(keys.c_str());
        gtk_label_set_attributes(GTK_LABEL(keyLabel), bold);
        gtk_label_set_xalign(GTK_LABEL(keyLabel), 1);
        GtkWidget* actionLabel = safeLabel(action.c_str());
        gtk_label_set_xalign(GTK_LABEL(actionLabel), 0);
        gtk_grid_attach(GTK_GRID(grid), keyLabel, 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), actionLabel, 1, row, 1, 1);
        ++row;
    };
    for (const PlayerKeyHelp& line : playerKeyHelp()) addLine(line.keys, line.action);
    addLine("Doble clic", "Pantalla completa");
    addLine("Rueda del ratón", "Volumen");
    addLine("Tab", "Recorrer los controles");
    pango_attr_list_unref(bold);
    pad(grid, 16);
    gtk_widget_set_margin_top(grid, 0);
    gtk_container_add(GTK_CONTAINER(help_.get()), grid);
    setAccessibleName(help_.get(), "Teclas del reproductor");
    gtk_widget_set_tooltip_text(help_.get(), nullptr);
    gtk_widget_show_all(help_.get());
    gtk_widget_set_no_show_all(help_.get(), TRUE);
    gtk_widget_hide(help_.get());

    setRevealed(true);
    scheduleHide();
}

GtkWidget* PlayerControls::buildSettingsPopover(GtkWidget* button) {
    GtkWidget* popover = defunctSafe(GTK_TYPE_POPOVER, GTK_TYPE_POPOVER_ACCESSIBLE);
    gtk_popover_set_relative_to(GTK_POPOVER(popover), button);
    if (AtkObject* accessible = gtk_widget_get_accessible(popover))
        atk_object_set_name(accessible, "Ajustes de reproducción");
    GtkWidget* grid = gtk_grid_new();
    gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
    int row = 0;
    auto stepper = [&](const char* title, const char* lessName, PlayerCommand less, const char* moreName,
                       PlayerCommand more) {
        GtkWidget* label = safeLabel(title);
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        gtk_widget_set_hexpand(label, TRUE);
        GtkWidget* value = safeLabel("");
        gtk_label_set_width_chars(GTK_LABEL(value), 8);
        gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
        int column = 1;
        for (auto [text, name, command] : {std::tuple{"\u2212", lessName, less}, std::tuple{"+", moreName, more}}) {
            GtkWidget* b = labelButton(text);
            setAccessibleName(b, name);
            g_object_set_data_full(G_OBJECT(b), "command", new CommandButton{this, command},
                                   [](gpointer p) { delete static_cast<CommandButton*>(p); });
            handlers_.connect(b, "clicked", G_CALLBACK(+[](GtkButton* clicked, gpointer) {
                                  auto* c = static_cast<CommandButton*>(g_object_get_data(G_OBJECT(clicked), "command"));
                                  c->controls->perform(c->command);
                              }), nullptr);
            if (column == 2) gtk_grid_attach(GTK_GRID(grid), value, column++, row, 1, 1);
            gtk_grid_attach(GTK_GRID(grid), b, column++, row, 1, 1);
        }
        ++row;
        return value;
    };
    subtitleDelayValue_ = stepper("Retraso de los subtítulos", "Subtítulos antes", PlayerCommand::SubtitleDelayLess,
                                  "Subtítulos después", PlayerCommand::SubtitleDelayMore);
    audioDelayValue_ = stepper("Retraso del audio", "Audio antes", PlayerCommand::AudioDelayLess, "Audio después",
                               PlayerCommand::AudioDelayMore);
    subtitleScaleValue_ = stepper("Tamaño de los subtítulos", "Subtítulos más pequeños", PlayerCommand::SubtitleSmaller,
                                  "Subtítulos más grandes", PlayerCommand::SubtitleLarger);

    nightMode_ = defunctSafe(GTK_TYPE_CHECK_BUTTON, GTK_TYPE_TOGGLE_BUTTON_ACCESSIBLE);
    gtk_container_add(GTK_CONTAINER(nightMode_), safeLabel("Modo nocturno (suaviza los pasajes fuertes)"));
    if (AtkObject* accessible = gtk_widget_get_accessible(nightMode_)) atk_object_set_name(accessible, "Modo nocturno");
    handlers_.connect(nightMode_, "toggled", G_CALLBACK(+[](GtkToggleButton* toggle, gpointer d) {
                          auto* self = static_cast<PlayerControls*>(d);
                          if (self->updatingControls_) return;
                          if (auto player = self->player_.lock())
                              player->setNightMode(gtk_toggle_button_get_active(toggle));
                      }), this);
    gtk_grid_attach(GTK_GRID(grid), nightMode_, 0, row++, 5, 1);

    GtkWidget* decoder = safeLabel("Decodificación");
    gtk_label_set_xalign(GTK_LABEL(decoder), 0);
    decoderValue_ = safeLabel("");
    gtk_label_set_xalign(GTK_LABEL(decoderValue_), 0);
    gtk_grid_attach(GTK_GRID(grid), decoder, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), decoderValue_, 1, row++, 4, 1);

    GtkWidget* reset = labelButton("Restablecer");
    setAccessibleName(reset, "Restablecer retrasos y tamaño");
    handlers_.connect(reset, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                          auto* self = static_cast<PlayerControls*>(d);
                          auto player = self->player_.lock();
                          if (!player) return;
                          player->setSubtitleDelay(0);
                          player->setAudioDelay(0);
                          player->setSubtitleScale(1.0);
                      }), this);
    gtk_widget_set_halign(reset, GTK_ALIGN_END);
    gtk_grid_attach(GTK_GRID(grid), reset, 0, row++, 5, 1);

    gtk_widget_show_all(grid);
    gtk_container_add(GTK_CONTAINER(popover), grid);
    return popover;
}

PlayerControls::~PlayerControls() {
    detach();
    g_clear_handle_id(&hideSource_, g_source_remove);
    g_clear_handle_id(&messageSource_, g_source_remove);
    handlers_.clear();
    // A menu or popover left open lets go of the pointer and keyboard before it goes.
    for (GtkWidget* popup : popups_) {
        if (GTK_IS_MENU(popup)) gtk_menu_popdown(GTK_MENU(popup));
        else gtk_widget_hide(popup);
    }
    // Destroyed here, not left to the last reference: popovers and menus of the bar
    // go with it while their accessible objects can still reach the widgets.
    gtk_widget_destroy(revealer_.get());
    gtk_widget_destroy(message_.get());
    gtk_widget_destroy(help_.get());
}

void PlayerControls::detach() {
    rateObservation_.reset();
    settingsObservation_.reset();
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
    settingsObservation_ = current->observeSettings([this] { refreshSettings(); });
    timeToken_ = current->addPeriodicTimeObserver(std::chrono::milliseconds(500),
                                                  [this](double seconds) { refreshTime(seconds); });
    refreshSettings();
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
    setRevealed(true);
    scheduleHide();
}

void PlayerControls::setRevealed(bool revealed) {
    GtkRevealer* revealer = GTK_REVEALER(revealer_.get());
    if (gtk_revealer_get_reveal_child(revealer) == static_cast<gboolean>(revealed)) return;
    gtk_revealer_set_reveal_child(revealer, revealed);
    if (actions_.barShown) actions_.barShown(revealed);
}

void PlayerControls::scheduleHide() {
    g_clear_handle_id(&hideSource_, g_source_remove);
    hideSource_ = g_timeout_add(hideAfterMs, [](gpointer d) -> gboolean {
        auto* self = static_cast<PlayerControls*>(d);
        self->hideSource_ = 0;
        // A paused video keeps its controls in sight, and so does an open menu or
        // popover of the bar.
        auto player = self->player_.lock();
        if (gtk_grab_get_current()) {
            self->scheduleHide();
        } else if (player && player->timeControlStatus() != TimeControlStatus::Paused) {
            self->setRevealed(false);
            // The keyboard leaves the hidden bar: Space and Return are the player's again.
            GtkWidget* toplevel = gtk_widget_get_toplevel(self->revealer_.get());
            GtkWidget* focus = GTK_IS_WINDOW(toplevel) ? gtk_window_get_focus(GTK_WINDOW(toplevel)) : nullptr;
            if (focus && gtk_widget_is_ancestor(focus, self->revealer_.get()))
                gtk_window_set_focus(GTK_WINDOW(toplevel), nullptr);
        }
        return G_SOURCE_REMOVE;
    }, this);
}

namespace {

std::optional<PlayerKeyPress::Named> namedKey(guint keyval) {
    using Named = PlayerKeyPress::Named;
    switch (keyval) {
    case GDK_KEY_space: return Named::Space;
    case GDK_KEY_Left: case GDK_KEY_KP_Left: return Named::Left;
    case GDK_KEY_Right: case GDK_KEY_KP_Right: return Named::Right;
    case GDK_KEY_Up: case GDK_KEY_KP_Up: return Named::Up;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: return Named::Down;
    case GDK_KEY_Page_Up: case GDK_KEY_KP_Page_Up: return Named::PageUp;
    case GDK_KEY_Page_Down: case GDK_KEY_KP_Page_Down: return Named::PageDown;
    case GDK_KEY_BackSpace: return Named::BackSpace;
    case GDK_KEY_F1: return Named::F1;
    default: return std::nullopt;
    }
}

}  // namespace

bool PlayerControls::handleKey(const GdkEventKey* event, GtkWidget* focus) {
    const guint keyval = event->keyval;
    if (event->is_modifier) return false;
    const bool inBar = focus && gtk_widget_is_ancestor(focus, revealer_.get());
    // Tab brings the bar back and walks through its controls.
    if (keyval == GDK_KEY_Tab || keyval == GDK_KEY_ISO_Left_Tab || keyval == GDK_KEY_KP_Tab) {
        poke();
        if (inBar) return false;
        gtk_widget_grab_focus(playButton_);
        return true;
    }
    // A focused control takes its own activation keys.
    if (inBar && (keyval == GDK_KEY_space || keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter)) {
        poke();
        return false;
    }
    PlayerKeyPress key;
    key.withModifier = (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SUPER_MASK)) != 0;
    if (std::optional<PlayerKeyPress::Named> named = namedKey(keyval)) {
        key.named = *named;
    } else {
        key.character = gdk_keyval_to_unicode(gdk_keyval_to_lower(keyval));
    }
    std::optional<PlayerCommand> command = playerCommandForKey(key);
    const bool helpShown = gtk_widget_get_visible(help_.get());
    if (!command) {
        // Any other key puts the list of keys away.
        if (helpShown && !key.withModifier && keyval != GDK_KEY_Escape) {
            setHelpVisible(false);
            return true;
        }
        return false;
    }
    if (helpShown && *command != PlayerCommand::ShowKeys) setHelpVisible(false);
    perform(*command);
    if (*command != PlayerCommand::ShowKeys) poke();
    return true;
}

void PlayerControls::setHelpVisible(bool visible) {
    gtk_widget_set_visible(help_.get(), visible);
}

void PlayerControls::perform(PlayerCommand command) {
    auto player = player_.lock();
    if (!player) return;
    switch (command) {
    case PlayerCommand::TogglePause: togglePause(); break;
    case PlayerCommand::SeekBack: seekBy(-keySeekSeconds); break;
    case PlayerCommand::SeekForward: seekBy(keySeekSeconds); break;
    case PlayerCommand::VolumeUp: changeVolume(1); break;
    case PlayerCommand::VolumeDown: changeVolume(-1); break;
    case PlayerCommand::ToggleMute:
        player->setMuted(!player->muted());
        showMessage(player->muted() ? "Silencio" : "Sonido: " + percentLabel(player->volume().value_or(1.0)));
        break;
    case PlayerCommand::ToggleFullscreen:
        if (actions_.toggleFullscreen) actions_.toggleFullscreen();
        break;
    case PlayerCommand::CycleAudio: cycleTrack(MediaCharacteristic::Audible); break;
    case PlayerCommand::CycleSubtitles: cycleTrack(MediaCharacteristic::Legible); break;
    case PlayerCommand::SlowerSpeed:
    case PlayerCommand::FasterSpeed:
    case PlayerCommand::NormalSpeed:
        player->setRate(command == PlayerCommand::NormalSpeed
                            ? 1.0
                            : nextRate(player->rate(), command == PlayerCommand::FasterSpeed ? 1 : -1));
        showMessage("Velocidad: " + rateLabel(player->rate()));
        break;
    case PlayerCommand::PreviousChapter: stepChapter(-1); break;
    case PlayerCommand::NextChapter: stepChapter(1); break;
    case PlayerCommand::SubtitleDelayLess:
    case PlayerCommand::SubtitleDelayMore:
        player->setSubtitleDelay(
            stepDelay(player->subtitleDelay(), command == PlayerCommand::SubtitleDelayMore ? 1 : -1));
        showMessage("Retraso de los subtítulos: " + delayLabel(player->subtitleDelay()));
        break;
    case PlayerCommand::AudioDelayLess:
    case PlayerCommand::AudioDelayMore:
        player->setAudioDelay(stepDelay(player->audioDelay(), command == PlayerCommand::AudioDelayMore ? 1 : -1));
        showMessage("Retraso del audio: " + delayLabel(player->audioDelay()));
        break;
    case PlayerCommand::SubtitleSmaller:
    case PlayerCommand::SubtitleLarger:
        player->setSubtitleScale(
            stepSubtitleScale(player->subtitleScale(), command == PlayerCommand::SubtitleLarger ? 1 : -1));
        showMessage("Tamaño de los subtítulos: " + percentLabel(player->subtitleScale()));
        break;
    case PlayerCommand::ShowKeys: setHelpVisible(!gtk_widget_get_visible(help_.get())); break;
    }
}

void PlayerControls::changeVolume(int direction) {
    auto player = player_.lock();
    if (!player) return;
    player->setVolume(stepVolume(player->volume().value_or(1.0), direction));
    if (player->muted()) player->setMuted(false);
    showMessage("Volumen: " + percentLabel(player->volume().value_or(1.0)));
}

void PlayerControls::scrollVolume(int steps) {
    for (int i = 0; i < std::min(std::abs(steps), 4); ++i) changeVolume(steps > 0 ? 1 : -1);
    poke();
}

void PlayerControls::showMessage(const std::string& text) {
    gtk_label_set_text(GTK_LABEL(messageText_), text.c_str());
    gtk_widget_show(message_.get());
    g_clear_handle_id(&messageSource_, g_source_remove);
    messageSource_ = g_timeout_add(messageMs, [](gpointer d) -> gboolean {
        auto* self = static_cast<PlayerControls*>(d);
        self->messageSource_ = 0;
        gtk_widget_hide(self->message_.get());
        return G_SOURCE_REMOVE;
    }, this);
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

// The next chapter, or back to the start of this one (to the one before from its
// first seconds).
void PlayerControls::stepChapter(int direction) {
    auto player = player_.lock();
    if (!player || chapters_.empty()) {
        showMessage("Este vídeo no tiene capítulos");
        return;
    }
    std::optional<double> target = chapterStepTarget(chapters_, lastPosition_, direction);
    if (!target) {
        if (direction > 0) showMessage("No hay más capítulos");
        return;
    }
    lastPosition_ = *target;
    player->seek(*target);
    if (std::optional<std::size_t> index = brindlemar::chapterAt(chapters_, *target)) {
        const std::string& title = chapters_[*index].title;
        showMessage("Capítulo " + std::to_string(*index + 1) + (title.empty() ? "" : ": " + title));
    }
}

std::string PlayerControls::chapterTitleAt(double seconds) const {
    std::optional<std::size_t> index = brindlemar::chapterAt(chapters_, seconds);
    return index ? chapters_[*index].title : std::string();
}

void PlayerControls::refreshTime(double seconds) {
    lastPosition_ = seconds;
    double duration = 0;
    auto player = player_.lock();
    if (auto item = player ? player->currentItem() : nullptr) duration = item->duration().value_or(0);
    const bool durationChanged = duration != duration_;
    duration_ = duration;
    updatingControls_ = true;
    gtk_range_set_range(GTK_RANGE(seekBar_), 0, std::max(duration, 1.0));
    gtk_range_set_value(GTK_RANGE(seekBar_), seconds);
    updatingControls_ = false;
    if (durationChanged) refreshChapters(chapters_);
    gtk_label_set_text(GTK_LABEL(elapsed_), clockText(seconds).c_str());
    gtk_label_set_text(GTK_LABEL(total_), clockText(duration).c_str());
}

// The chapters' starts as marks on the seek bar (the first one is its start).
void PlayerControls::refreshChapters(const std::vector<Chapter>& chapters) {
    chapters_ = chapters;
    gtk_scale_clear_marks(GTK_SCALE(seekBar_));
    if (duration_ <= 0) return;
    for (const Chapter& chapter : chapters_)
        if (chapter.start > 0 && chapter.start < duration_)
            gtk_scale_add_mark(GTK_SCALE(seekBar_), chapter.start, GTK_POS_TOP, nullptr);
}

void PlayerControls::refreshSettings() {
    auto player = player_.lock();
    if (!player) return;
    updatingControls_ = true;
    if (std::optional<double> volume = player->volume()) gtk_range_set_value(GTK_RANGE(volume_), *volume);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(nightMode_), player->nightMode());
    updatingControls_ = false;
    const bool muted = player->muted();
    gtk_button_set_image(GTK_BUTTON(muteButton_),
                         gtk_image_new_from_icon_name(muted ? "audio-volume-muted-symbolic" : "audio-volume-high-symbolic",
                                                      GTK_ICON_SIZE_BUTTON));
    setAccessibleName(muteButton_, muted ? "Activar el sonido" : "Silenciar");
    if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(speedButton_)))
        gtk_label_set_text(GTK_LABEL(label), rateLabel(player->rate()).c_str());
    gtk_label_set_text(GTK_LABEL(subtitleDelayValue_), delayLabel(player->subtitleDelay()).c_str());
    gtk_label_set_text(GTK_LABEL(audioDelayValue_), delayLabel(player->audioDelay()).c_str());
    gtk_label_set_text(GTK_LABEL(subtitleScaleValue_), percentLabel(player->subtitleScale()).c_str());
    const std::string decoder = player->hardwareDecoder();
    gtk_label_set_text(GTK_LABEL(decoderValue_),
                       decoder.empty() ? "por software" : ("por hardware (" + decoder + ")").c_str());
    std::shared_ptr<PlayerItem> item = player->currentItem();
    std::vector<Chapter> chapters = item ? item->chapters() : std::vector<Chapter>{};
    if (chapters != chapters_) refreshChapters(chapters);
}

void PlayerControls::refreshPlayState() {
    auto player = player_.lock();
    bool paused = !player || player->timeControlStatus() == TimeControlStatus::Paused;
    gtk_button_set_image(GTK_BUTTON(playButton_),
                         gtk_image_new_from_icon_name(paused ? "media-playback-start-symbolic"
                                                             : "media-playback-pause-symbolic",
                                                      GTK_ICON_SIZE_BUTTON));
    setAccessibleName(playButton_, paused ? "Reproducir" : "Pausa");
    if (paused) {
        setRevealed(true);
    } else {
        scheduleHide();
    }
}

void PlayerControls::fillSpeedMenu(GtkWidget* menu) {
    clearMenu(menu);
    auto player = player_.lock();
    const double current = player ? player->rate() : 1.0;
    GSList* group = nullptr;
    for (double rate : playbackRates()) {
        addRadioEntry(menu, group, rate == 1.0 ? "Normal (1\u00d7)" : rateLabel(rate), std::abs(rate - current) < 1e-6,
                      [this, rate] {
                          if (auto player = player_.lock()) player->setRate(rate);
                      });
    }
    gtk_widget_show_all(menu);
}

void PlayerControls::fillTrackMenu(GtkWidget* menu, MediaCharacteristic characteristic) {
    clearMenu(menu);
    auto player = player_.lock();
    std::shared_ptr<PlayerItem> item = player ? player->currentItem() : nullptr;
    auto options = item ? item->mediaSelectionOptions(characteristic) : std::nullopt;
    std::optional<std::size_t> current = player ? player->selectedMediaOption(characteristic) : std::nullopt;
    GSList* group = nullptr;
    auto add = [&](const std::string& label, std::optional<std::size_t> index) {
        addRadioEntry(menu, group, label, index == current,
                      [this, index, characteristic] { selectTrack(index, characteristic); });
    };
    if (characteristic == MediaCharacteristic::Legible) add("Desactivados", std::nullopt);
    if (options) {
        for (std::size_t i = 0; i < options->size(); ++i) add(trackLabel((*options)[i], i), i);
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
    std::shared_ptr<PlayerItem> item = player ? player->currentItem() : nullptr;
    if (!item) return;
    if (index == player->selectedMediaOption(characteristic)) return;
    item->selectMediaOption(index, characteristic);
    if (actions_.tracksChosen) actions_.tracksChosen();
}

// The next track of that kind; subtitles go round through "off".
void PlayerControls::cycleTrack(MediaCharacteristic characteristic) {
    auto player = player_.lock();
    std::shared_ptr<PlayerItem> item = player ? player->currentItem() : nullptr;
    auto options = item ? item->mediaSelectionOptions(characteristic) : std::nullopt;
    const bool audio = characteristic == MediaCharacteristic::Audible;
    if (!options || options->empty()) {
        showMessage(audio ? "Sin pistas de audio" : "Sin subtítulos");
        return;
    }
    const std::size_t count = options->size();
    std::optional<std::size_t> current = player->selectedMediaOption(characteristic);
    std::optional<std::size_t> next;
    if (audio) {
        next = current ? (*current + 1) % count : 0;
    } else if (!current) {
        next = 0;
    } else if (*current + 1 < count) {
        next = *current + 1;
    }
    selectTrack(next, characteristic);
    const std::string name = next ? trackLabel((*options)[*next], *next) : "Desactivados";
    showMessage((audio ? "Audio: " : "Subtítulos: ") + name);
}

}  // namespace brindlemar::gtk
