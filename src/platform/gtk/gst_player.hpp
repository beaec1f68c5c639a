#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include <gtk/gtk.h>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// A Player on GstPlay (playbin) rendering into gtksink. The media is opened and
// prerolled at once, paused; nothing plays until play(). Every callback comes on the
// default main context. A non-empty `subtitleUrl` is opened with the media as one more
// subtitle track.
std::unique_ptr<Player> createGstPlayer(const std::string& url, std::chrono::seconds forwardBuffer,
                                        const std::string& subtitleUrl = "");

// The widget that shows the video of a player made by createGstPlayer (black, with the
// picture letterboxed); nullptr for any other Player.
GtkWidget* videoWidgetOf(Player& player);

// What GStreamer itself has current for a player made by createGstPlayer, read past the
// interface: the language-code tag of the current audio or subtitle track (nothing when
// that kind is off or untagged), and whether that kind of track is on at all.
std::optional<std::string> currentTrackLanguageOf(Player& player, MediaCharacteristic characteristic);
bool tracksEnabledOf(Player& player, MediaCharacteristic characteristic);

// For the player's own controls, past the interface: the position of the current
// audio or subtitle track among the item's options (nothing when that kind is off),
// and the volume, linear from 0 to 1 (negative when unknown).
std::optional<std::size_t> currentTrackIndexOf(Player& player, MediaCharacteristic characteristic);
double volumeOf(Player& player);
void setVolumeOf(Player& player, double volume);

// Destroying a player stops and frees its pipeline on a helper thread, so that the
// main loop stays free to serve gtksink meanwhile. True while any such release is
// still under way; it ends on a turn of the default main context.
bool playerReleasesPending();

}  // namespace brindlemar::gtk
