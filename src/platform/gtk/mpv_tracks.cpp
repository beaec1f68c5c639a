#include "platform/gtk/mpv_tracks.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brindlemar::gtk {

namespace {

const mpv_node* member(const mpv_node& map, const char* key) {
    if (map.format != MPV_FORMAT_NODE_MAP || !map.u.list) return nullptr;
    for (int i = 0; i < map.u.list->num; ++i)
        if (std::strcmp(map.u.list->keys[i], key) == 0) return &map.u.list->values[i];
    return nullptr;
}

std::optional<std::string> stringMember(const mpv_node& map, const char* key) {
    const mpv_node* value = member(map, key);
    if (!value || value->format != MPV_FORMAT_STRING || !value->u.string) return std::nullopt;
    return std::string(value->u.string);
}

bool flagMember(const mpv_node& map, const char* key) {
    const mpv_node* value = member(map, key);
    return value && value->format == MPV_FORMAT_FLAG && value->u.flag;
}

}  // namespace

std::vector<MpvTrack> parseTrackList(const mpv_node& node) {
    std::vector<MpvTrack> tracks;
    if (node.format != MPV_FORMAT_NODE_ARRAY || !node.u.list) return tracks;
    for (int i = 0; i < node.u.list->num; ++i) {
        const mpv_node& entry = node.u.list->values[i];
        const mpv_node* id = member(entry, "id");
        std::optional<std::string> type = stringMember(entry, "type");
        if (!id || id->format != MPV_FORMAT_INT64 || !type) continue;
        MpvTrack track;
        track.id = id->u.int64;
        track.type = *type;
        track.lang = stringMember(entry, "lang");
        track.external = flagMember(entry, "external");
        track.selected = flagMember(entry, "selected");
        tracks.push_back(std::move(track));
    }
    return tracks;
}

std::vector<Chapter> parseChapterList(const mpv_node& node) {
    std::vector<Chapter> chapters;
    if (node.format != MPV_FORMAT_NODE_ARRAY || !node.u.list) return chapters;
    for (int i = 0; i < node.u.list->num; ++i) {
        const mpv_node& entry = node.u.list->values[i];
        const mpv_node* time = member(entry, "time");
        if (!time || time->format != MPV_FORMAT_DOUBLE || !std::isfinite(time->u.double_)) continue;
        chapters.push_back(Chapter{std::max(0.0, time->u.double_), stringMember(entry, "title").value_or("")});
    }
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const Chapter& a, const Chapter& b) { return a.start < b.start; });
    return chapters;
}

const char* trackTypeOf(MediaCharacteristic characteristic) {
    return characteristic == MediaCharacteristic::Audible ? "audio" : "sub";
}

std::optional<std::vector<MediaOption>> optionsOf(const std::vector<MpvTrack>& tracks,
                                                  MediaCharacteristic characteristic) {
    std::vector<MediaOption> options;
    for (const MpvTrack& track : tracks)
        if (track.type == trackTypeOf(characteristic))
            options.push_back(MediaOption{track.lang, std::nullopt, track.external});
    if (options.empty()) return std::nullopt;
    return options;
}

std::optional<std::int64_t> trackIdOf(const std::vector<MpvTrack>& tracks,
                                      MediaCharacteristic characteristic, std::size_t index) {
    std::size_t position = 0;
    for (const MpvTrack& track : tracks) {
        if (track.type != trackTypeOf(characteristic)) continue;
        if (position++ == index) return track.id;
    }
    return std::nullopt;
}

std::optional<std::size_t> selectedIndexOf(const std::vector<MpvTrack>& tracks,
                                           MediaCharacteristic characteristic) {
    std::size_t position = 0;
    for (const MpvTrack& track : tracks) {
        if (track.type != trackTypeOf(characteristic)) continue;
        if (track.selected) return position;
        ++position;
    }
    return std::nullopt;
}

std::optional<std::string> trackPropertyValue(const std::vector<MpvTrack>& tracks,
                                              MediaCharacteristic characteristic,
                                              std::optional<std::size_t> index) {
    if (!index) return std::string("no");
    std::optional<std::int64_t> id = trackIdOf(tracks, characteristic, *index);
    if (!id) return std::nullopt;
    return std::to_string(*id);
}

}  // namespace brindlemar::gtk
