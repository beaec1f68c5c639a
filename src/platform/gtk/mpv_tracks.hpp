// mpv's track list read as the audio and subtitle options a language choice sees.
#pragma once

#include <mpv/client.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// One entry of mpv's "track-list" property.
struct MpvTrack {
    std::int64_t id = 0;  // mpv's id, unique within its type
    std::string type;     // "video", "audio" or "sub"
    std::optional<std::string> lang;
    bool external = false;  // read from a separate file
    bool selected = false;
};

// The entries of a "track-list" node; malformed entries are left out.
std::vector<MpvTrack> parseTrackList(const mpv_node& node);

// The entries of a "chapter-list" node, sorted by their start; entries without a
// finite time are left out.
std::vector<Chapter> parseChapterList(const mpv_node& node);

// The type mpv gives the tracks of a characteristic.
const char* trackTypeOf(MediaCharacteristic characteristic);

// The tracks of that kind as options, in mpv's order; nothing when there is none.
std::optional<std::vector<MediaOption>> optionsOf(const std::vector<MpvTrack>& tracks,
                                                  MediaCharacteristic characteristic);

// mpv's id of option `index` of that kind; nothing when there is no such option.
std::optional<std::int64_t> trackIdOf(const std::vector<MpvTrack>& tracks,
                                      MediaCharacteristic characteristic, std::size_t index);

// The position of the selected track of that kind among its options; nothing when
// that kind is off.
std::optional<std::size_t> selectedIndexOf(const std::vector<MpvTrack>& tracks,
                                           MediaCharacteristic characteristic);

// The value of mpv's "aid" or "sid" for a choice: the track's id, or "no" for none.
// Nothing when the choice names no track.
std::optional<std::string> trackPropertyValue(const std::vector<MpvTrack>& tracks,
                                              MediaCharacteristic characteristic,
                                              std::optional<std::size_t> index);

}  // namespace brindlemar::gtk
