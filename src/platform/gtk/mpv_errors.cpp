#include "platform/gtk/mpv_errors.hpp"

#include <mpv/client.h>

#include <array>
#include <utility>

namespace brindlemar::gtk {

namespace {

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// What mpv and FFmpeg write when they give up, newest message first: the message says
// more than the error code, which is "loading failed" for a missing file and for a
// broken connection alike.
constexpr std::array<std::pair<const char*, PlaybackError>, 16> messageReasons{{
    {"HTTP error 4", PlaybackError::NotFound},
    {"No such file or directory", PlaybackError::NotFound},
    {"Permission denied", PlaybackError::NotFound},
    {"Cannot open file", PlaybackError::NotFound},
    {"HTTP error 5", PlaybackError::Network},
    {"Connection refused", PlaybackError::Network},
    {"Connection reset", PlaybackError::Network},
    {"Connection timed out", PlaybackError::Network},
    {"Network is unreachable", PlaybackError::Network},
    {"Failed to resolve hostname", PlaybackError::Network},
    {"Failed to recognize file format", PlaybackError::UnrecognisedFormat},
    {"Failed to initialize a decoder", PlaybackError::NoDecoder},
    {"Could not open codec", PlaybackError::NoDecoder},
    {"Error opening/initializing the selected video_out", PlaybackError::OutputFailed},
    {"Could not initialize video chain", PlaybackError::OutputFailed},
    {"Failed to initialize audio driver", PlaybackError::OutputFailed},
}};

}  // namespace

PlaybackError playbackErrorOf(int error, const std::deque<std::string>& messages) {
    switch (error) {
    case MPV_ERROR_UNKNOWN_FORMAT: return PlaybackError::UnrecognisedFormat;
    case MPV_ERROR_VO_INIT_FAILED:
    case MPV_ERROR_AO_INIT_FAILED: return PlaybackError::OutputFailed;
    default: break;
    }
    for (auto message = messages.rbegin(); message != messages.rend(); ++message)
        for (const auto& [part, reason] : messageReasons)
            if (contains(*message, part)) return reason;
    switch (error) {
    case MPV_ERROR_NOTHING_TO_PLAY: return PlaybackError::NoDecoder;
    case MPV_ERROR_LOADING_FAILED: return PlaybackError::NotFound;
    default: return PlaybackError::Unknown;
    }
}

}  // namespace brindlemar::gtk
