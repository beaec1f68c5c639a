// Audio and subtitle choices on a GstPlay: its media information read as language
// options, and the calls that make one of them current.
#pragma once

#include <gst/play/play.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// The audio (Audible) or subtitle (Legible) streams of the opened media, in stream
// order; nothing when the media has no stream of that kind or nothing is open yet.
// A subtitle stream read from `subtitleUrl` (the play's separate subtitle file) is
// marked external.
std::optional<std::vector<MediaOption>> mediaOptionsOf(GstPlay* play,
                                                       MediaCharacteristic characteristic,
                                                       const std::string& subtitleUrl = "");

// Makes option `index` of mediaOptionsOf(play, characteristic) current and turns that
// kind of track on, or, with no index, turns that kind of track off. False when the
// media has no such option.
bool selectMediaOptionOf(GstPlay* play, MediaCharacteristic characteristic,
                         std::optional<std::size_t> index);

// Whether tracks of that kind are played at all (subtitles shown, audio heard).
bool tracksEnabledOf(GstPlay* play, MediaCharacteristic characteristic);

// The language-code tag of the current track of that kind; nothing when that kind is
// off, nothing is open, or the track carries no language.
std::optional<std::string> currentLanguageOf(GstPlay* play, MediaCharacteristic characteristic);

// The position of the current track of that kind in mediaOptionsOf(play,
// characteristic); nothing when that kind is off or nothing is open.
std::optional<std::size_t> currentOptionIndexOf(GstPlay* play, MediaCharacteristic characteristic);

}  // namespace brindlemar::gtk
