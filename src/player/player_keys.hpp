// The keys of the playback view: which key does what, and the help that lists them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brindlemar {

enum class PlayerCommand {
    TogglePause,
    SeekBack,        // 10 s
    SeekForward,     // 10 s
    VolumeUp,        // +5 %
    VolumeDown,      // -5 %
    ToggleMute,
    ToggleFullscreen,
    CycleAudio,
    CycleSubtitles,
    SlowerSpeed,
    FasterSpeed,
    NormalSpeed,
    PreviousChapter,
    NextChapter,
    SubtitleDelayLess,  // -100 ms
    SubtitleDelayMore,  // +100 ms
    AudioDelayLess,     // -100 ms
    AudioDelayMore,     // +100 ms
    SubtitleSmaller,
    SubtitleLarger,
    ShowKeys,           // the overlay that lists these keys
};

// A key press as the playback view sees it: a named key, or the character it types
// (lower case for letters, whatever the Shift state). Presses with Ctrl, Alt or Super
// are never the player's.
struct PlayerKeyPress {
    enum class Named { None, Space, Left, Right, Up, Down, PageUp, PageDown, BackSpace, F1 };
    Named named = Named::None;
    char32_t character = 0;  // when named is None
    bool withModifier = false;  // Ctrl, Alt or Super held
};

std::optional<PlayerCommand> playerCommandForKey(const PlayerKeyPress& key);

// The help overlay's lines, in Spanish: the keys as written on the keyboard, and what
// they do. Every command above has a line.
struct PlayerKeyHelp {
    std::string keys;
    std::string action;
};
const std::vector<PlayerKeyHelp>& playerKeyHelp();

}  // namespace brindlemar
