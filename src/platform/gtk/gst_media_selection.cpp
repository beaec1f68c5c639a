#include "platform/gtk/gst_media_selection.hpp"

#include "platform/gtk/gref.hpp"

namespace brindlemar::gtk {

namespace {

// playbin's "flags" bits for the kinds of track it plays.
constexpr guint playAudioFlag = 1u << 1;
constexpr guint playTextFlag = 1u << 2;

bool isAudio(MediaCharacteristic characteristic) {
    return characteristic == MediaCharacteristic::Audible;
}

// The stream's own language tag. The info's get_language() is not used: it turns the
// code into a localised language name ("Spanish"), which no tag comparison can match.
std::optional<std::string> languageCodeOf(GstPlayStreamInfo* stream) {
    GstTagList* tags = gst_play_stream_info_get_tags(stream);
    if (!tags) return std::nullopt;
    g_autofree gchar* code = nullptr;
    if (!gst_tag_list_get_string(tags, GST_TAG_LANGUAGE_CODE, &code) || !code) return std::nullopt;
    return std::string(code);
}

GList* streamsOf(GstPlayMediaInfo* info, MediaCharacteristic characteristic) {
    return isAudio(characteristic) ? gst_play_media_info_get_audio_streams(info)
                                   : gst_play_media_info_get_subtitle_streams(info);
}

void setTracksEnabled(GstPlay* play, MediaCharacteristic characteristic, bool enabled) {
    // Changing playbin's flags reconfigures its output, so only when it changes.
    if (tracksEnabledOf(play, characteristic) == enabled) return;
    if (isAudio(characteristic))
        gst_play_set_audio_track_enabled(play, enabled);
    else
        gst_play_set_subtitle_track_enabled(play, enabled);
}

// Whether playbin's text stream `index` comes from `subtitleUrl`: the stream's pad is
// fed by the decoding bin opened on that address (playbin opens the separate subtitle
// file in a bin of its own, whose "uri" is that address).
bool isFromUri(GstPlay* play, gint index, const std::string& subtitleUrl) {
    auto pipeline = adopt(gst_play_get_pipeline(play));
    GstPad* raw = nullptr;
    g_signal_emit_by_name(pipeline.get(), "get-text-pad", index, &raw);
    if (!raw) return false;
    auto pad = adopt(raw);
    auto peer = adopt(gst_pad_get_peer(pad.get()));
    if (!peer) return false;
    GRef<GstElement> element = adopt(gst_pad_get_parent_element(peer.get()));
    while (element && element.get() != pipeline.get()) {
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(element.get()), "uri")) {
            g_autofree gchar* uri = nullptr;
            g_object_get(element.get(), "uri", &uri, nullptr);
            if (uri) return subtitleUrl == uri;
        }
        element = adopt(GST_ELEMENT(gst_object_get_parent(GST_OBJECT(element.get()))));
    }
    return false;
}

}  // namespace

std::optional<std::vector<MediaOption>> mediaOptionsOf(GstPlay* play,
                                                       MediaCharacteristic characteristic,
                                                       const std::string& subtitleUrl) {
    g_autoptr(GstPlayMediaInfo) info = gst_play_get_media_info(play);
    if (!info) return std::nullopt;
    GList* streams = streamsOf(info, characteristic);
    if (!streams) return std::nullopt;
    std::vector<MediaOption> options;
    for (GList* l = streams; l; l = l->next) {
        auto* stream = GST_PLAY_STREAM_INFO(l->data);
        bool external = !isAudio(characteristic) && !subtitleUrl.empty() &&
                        isFromUri(play, gst_play_stream_info_get_index(stream), subtitleUrl);
        options.push_back(MediaOption{languageCodeOf(stream), std::nullopt, external});
    }
    return options;
}

bool selectMediaOptionOf(GstPlay* play, MediaCharacteristic characteristic,
                         std::optional<std::size_t> index) {
    if (!index) {
        setTracksEnabled(play, characteristic, false);
        return true;
    }
    g_autoptr(GstPlayMediaInfo) info = gst_play_get_media_info(play);
    if (!info) return false;
    auto* stream = static_cast<GstPlayStreamInfo*>(
        g_list_nth_data(streamsOf(info, characteristic), static_cast<guint>(*index)));
    if (!stream) return false;
    // Options are listed in stream order, but the track is chosen by playbin's own index.
    gint streamIndex = gst_play_stream_info_get_index(stream);
    bool selected = isAudio(characteristic) ? gst_play_set_audio_track(play, streamIndex)
                                            : gst_play_set_subtitle_track(play, streamIndex);
    if (selected) setTracksEnabled(play, characteristic, true);
    return selected;
}

bool tracksEnabledOf(GstPlay* play, MediaCharacteristic characteristic) {
    auto pipeline = adopt(gst_play_get_pipeline(play));
    guint flags = 0;
    g_object_get(pipeline.get(), "flags", &flags, nullptr);
    return (flags & (isAudio(characteristic) ? playAudioFlag : playTextFlag)) != 0;
}

std::optional<std::string> currentLanguageOf(GstPlay* play, MediaCharacteristic characteristic) {
    // Both calls give nothing while that kind of track is off.
    if (isAudio(characteristic)) {
        auto track = adopt(gst_play_get_current_audio_track(play));
        return track ? languageCodeOf(GST_PLAY_STREAM_INFO(track.get())) : std::nullopt;
    }
    auto track = adopt(gst_play_get_current_subtitle_track(play));
    return track ? languageCodeOf(GST_PLAY_STREAM_INFO(track.get())) : std::nullopt;
}

std::optional<std::size_t> currentOptionIndexOf(GstPlay* play, MediaCharacteristic characteristic) {
    GRef<GstPlayStreamInfo> track;
    if (isAudio(characteristic))
        track = adopt(GST_PLAY_STREAM_INFO(gst_play_get_current_audio_track(play)));
    else
        track = adopt(GST_PLAY_STREAM_INFO(gst_play_get_current_subtitle_track(play)));
    if (!track) return std::nullopt;
    g_autoptr(GstPlayMediaInfo) info = gst_play_get_media_info(play);
    if (!info) return std::nullopt;
    const gint current = gst_play_stream_info_get_index(track.get());
    std::size_t position = 0;
    for (GList* l = streamsOf(info, characteristic); l; l = l->next, ++position)
        if (gst_play_stream_info_get_index(GST_PLAY_STREAM_INFO(l->data)) == current) return position;
    return std::nullopt;
}

}  // namespace brindlemar::gtk
