#include "platform/gtk/gtk_mpris.hpp"

#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/gtk/gref.hpp"
#include "platform/media_time.hpp"

namespace brindlemar::gtk {

namespace {

constexpr const char* busName = "org.mpris.MediaPlayer2.brindlemar";
constexpr const char* objectPath = "/org/mpris/MediaPlayer2";
constexpr const char* rootInterface = "org.mpris.MediaPlayer2";
constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* desktopEntry = "com.brindlemar.app";

// Volume is read-only here: the video's volume belongs to the control bar. Rate may
// be set within MinimumRate and MaximumRate; the player's speed is what it shows.
constexpr const char* introspection = R"(<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
    <method name="SetPosition">
      <arg direction="in" name="TrackId" type="o"/>
      <arg direction="in" name="Position" type="x"/>
    </method>
    <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="readwrite"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="read"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
</node>)";

GDBusNodeInfo* nodeInfo() {
    static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(introspection, nullptr);
    return info;
}

const char* statusName(NowPlayingStatus status) {
    return status == NowPlayingStatus::Playing ? "Playing" : "Paused";
}

GVariant* metadata(const NowPlayingInfo& info) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    if (g_variant_is_object_path(info.trackId.c_str()))
        g_variant_builder_add(&builder, "{sv}", "mpris:trackid", g_variant_new_object_path(info.trackId.c_str()));
    // The title comes from the page: only valid UTF-8 may go on the bus.
    g_autofree char* title = g_utf8_make_valid(info.title.c_str(), static_cast<gssize>(info.title.size()));
    g_variant_builder_add(&builder, "{sv}", "xesam:title", g_variant_new_string(title));
    if (info.duration)
        g_variant_builder_add(&builder, "{sv}", "mpris:length", g_variant_new_int64(wholeMicroseconds(*info.duration)));
    return g_variant_builder_end(&builder);
}

class MprisPlayer final : public NowPlaying {
public:
    MprisPlayer(const NowPlayingInfo& info, NowPlayingCommands commands)
        : info_(info), commands_(std::move(commands)) {
        // The callbacks stop as soon as g_bus_unown_name() is called, so `this` is safe.
        ownerId_ = g_bus_own_name(G_BUS_TYPE_SESSION, busName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, onBusAcquired,
                                  nullptr, nullptr, this, nullptr);
    }

    ~MprisPlayer() override {
        if (connection_) {
            for (guint* id : {&rootId_, &playerId_}) {
                if (*id) g_dbus_connection_unregister_object(connection_.get(), *id);
                *id = 0;
            }
        }
        if (ownerId_) g_bus_unown_name(ownerId_);
    }

    void update(const NowPlayingInfo& info) override {
        GVariantBuilder changed;
        g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
        bool any = false;
        if (info.status != info_.status) {
            g_variant_builder_add(&changed, "{sv}", "PlaybackStatus", g_variant_new_string(statusName(info.status)));
            any = true;
        }
        if (info.trackId != info_.trackId || info.title != info_.title || info.duration != info_.duration) {
            g_variant_builder_add(&changed, "{sv}", "Metadata", metadata(info));
            any = true;
        }
        if (info.rate != info_.rate) {
            g_variant_builder_add(&changed, "{sv}", "Rate", g_variant_new_double(info.rate));
            any = true;
        }
        if (info.canGoNext != info_.canGoNext) {
            g_variant_builder_add(&changed, "{sv}", "CanGoNext", g_variant_new_boolean(info.canGoNext));
            any = true;
        }
        info_ = info;
        if (!any || !playerId_) {
            g_variant_builder_clear(&changed);
            return;
        }
        emit("org.freedesktop.DBus.Properties", "PropertiesChanged",
             g_variant_new("(sa{sv}as)", playerInterface, &changed, nullptr));
    }

    void seeked(double position) override {
        if (playerId_) emit(playerInterface, "Seeked", g_variant_new("(x)", wholeMicroseconds(position)));
    }

private:
    void emit(const char* interface, const char* signal, GVariant* parameters) {
        // Queued on the connection; never waits for the bus.
        g_dbus_connection_emit_signal(connection_.get(), nullptr, objectPath, interface, signal, parameters, nullptr);
    }

    static void onBusAcquired(GDBusConnection* connection, const char*, gpointer data) {
        auto* self = static_cast<MprisPlayer*>(data);
        self->connection_ = ref(connection);
        static const GDBusInterfaceVTable vtable = {onMethodCall, onGetProperty, onSetProperty, {}};
        self->rootId_ = g_dbus_connection_register_object(
            connection, objectPath, g_dbus_node_info_lookup_interface(nodeInfo(), rootInterface), &vtable, self,
            nullptr, nullptr);
        self->playerId_ = g_dbus_connection_register_object(
            connection, objectPath, g_dbus_node_info_lookup_interface(nodeInfo(), playerInterface), &vtable, self,
            nullptr, nullptr);
    }

    static GVariant* onGetProperty(GDBusConnection*, const char*, const char*, const char* interface,
                                   const char* property, GError** error, gpointer data) {
        auto* self = static_cast<MprisPlayer*>(data);
        auto is = [property](const char* name) { return std::strcmp(property, name) == 0; };
        if (std::strcmp(interface, rootInterface) == 0) {
            if (is("CanQuit") || is("HasTrackList")) return g_variant_new_boolean(FALSE);
            if (is("CanRaise")) return g_variant_new_boolean(TRUE);
            if (is("Identity")) return g_variant_new_string("Brindlemar");
            if (is("DesktopEntry")) return g_variant_new_string(desktopEntry);
            if (is("SupportedUriSchemes") || is("SupportedMimeTypes")) return g_variant_new_strv(nullptr, 0);
        } else {
            if (is("PlaybackStatus")) return g_variant_new_string(statusName(self->info_.status));
            if (is("Metadata")) return metadata(self->info_);
            if (is("Position")) {
                double position = self->commands_.position ? self->commands_.position() : 0.0;
                return g_variant_new_int64(wholeMicroseconds(position));
            }
            if (is("Rate")) return g_variant_new_double(self->info_.rate);
            if (is("MinimumRate")) return g_variant_new_double(Player::minRate);
            if (is("MaximumRate")) return g_variant_new_double(Player::maxRate);
            if (is("Volume")) return g_variant_new_double(1.0);
            if (is("CanGoNext")) return g_variant_new_boolean(self->info_.canGoNext);
            if (is("CanGoPrevious")) return g_variant_new_boolean(FALSE);
            if (is("CanPlay") || is("CanPause") || is("CanSeek") || is("CanControl"))
                return g_variant_new_boolean(TRUE);
        }
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "Propiedad desconocida: %s", property);
        return nullptr;
    }

    // Only Rate is writable (GDBus refuses the others, and values of another type, by
    // the introspection data). The new speed shows once the player reports it.
    static gboolean onSetProperty(GDBusConnection*, const char*, const char*, const char*, const char* property,
                                  GVariant* value, GError** error, gpointer data) {
        auto* self = static_cast<MprisPlayer*>(data);
        if (std::strcmp(property, "Rate") != 0 || !g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE)) {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_PROPERTY_READ_ONLY, "Propiedad de solo lectura: %s",
                        property);
            return FALSE;
        }
        const double rate = g_variant_get_double(value);
        if (!std::isfinite(rate)) {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "Velocidad no válida");
            return FALSE;
        }
        // A rate of 0 is a pause in this protocol; any other is held to the player's range.
        std::function<void()> command;
        if (rate == 0) {
            command = self->commands_.pause;
        } else {
            command = [setRate = self->commands_.setRate,
                       rate = std::clamp(rate, Player::minRate, Player::maxRate)] {
                if (setRate) setRate(rate);
            };
        }
        if (command) command();
        return TRUE;
    }

    static void onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<MprisPlayer*>(data);
        auto is = [method](const char* name) { return std::strcmp(method, name) == 0; };
        if (is("OpenUri")) {
            g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED,
                                                  "Brindlemar no abre direcciones");
            return;
        }
        // The command may end the playback and with it this object: everything it
        // needs is copied first, and the reply is sent before it runs.
        std::function<void()> command;
        if (is("Raise")) command = self->commands_.raise;
        else if (is("Play")) command = self->commands_.play;
        else if (is("Pause")) command = self->commands_.pause;
        else if (is("PlayPause")) command = self->commands_.playPause;
        else if (is("Stop")) command = self->commands_.stop;
        else if (is("Next")) command = self->commands_.next;
        else if (is("Seek")) {
            gint64 offset = 0;
            g_variant_get(parameters, "(x)", &offset);
            command = [seekBy = self->commands_.seekBy, offset] {
                if (seekBy) seekBy(static_cast<double>(offset) / 1e6);
            };
        } else if (is("SetPosition")) {
            const char* track = nullptr;
            gint64 position = 0;
            g_variant_get(parameters, "(&ox)", &track, &position);
            command = [setPosition = self->commands_.setPosition, track = std::string(track), position] {
                if (setPosition) setPosition(track, static_cast<double>(position) / 1e6);
            };
        }
        // Quit (CanQuit is false) and Previous (nothing goes back) do nothing; Next does
        // nothing either when nothing follows (CanGoNext is false).
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (command) command();
    }

    NowPlayingInfo info_;
    NowPlayingCommands commands_;
    guint ownerId_ = 0;
    GRef<GDBusConnection> connection_;
    guint rootId_ = 0;
    guint playerId_ = 0;
};

}  // namespace

std::unique_ptr<NowPlaying> publishMpris(const NowPlayingInfo& info, NowPlayingCommands commands) {
    return std::make_unique<MprisPlayer>(info, std::move(commands));
}

}  // namespace brindlemar::gtk
