// The keys of the playback view and the help overlay that lists them.
#include "player/player_keys.hpp"

namespace brindlemar {

std::optional<PlayerCommand> playerCommandForKey(const PlayerKeyPress& key) {
    // Ctrl, Alt and Super combinations belong to the application and the desktop.
    if (key.withModifier) return std::nullopt;
    using Named = PlayerKeyPress::Named;
    switch (key.named) {
    case Named::Space: return PlayerCommand::TogglePause;
    case Named::Left: return PlayerCommand::SeekBack;
    case Named::Right: return PlayerCommand::SeekForward;
    case Named::Up: return PlayerCommand::VolumeUp;
    case Named::Down: return PlayerCommand::VolumeDown;
    case Named::PageUp: return PlayerCommand::PreviousChapter;
    case Named::PageDown: return PlayerCommand::NextChapter;
    case Named::BackSpace: return PlayerCommand::NormalSpeed;
    case Named::F1: return PlayerCommand::ShowKeys;
    case Named::None: break;
    }
    char32_t c = key.character;
    if (c >= U'A' && c <= U'Z') c += U'a' - U'A';  // letters whatever the Shift state
    switch (c) {
    case U' ': return PlayerCommand::TogglePause;
    case U'm': return PlayerCommand::ToggleMute;
    case U'f': return PlayerCommand::ToggleFullscreen;
    case U'a': return PlayerCommand::CycleAudio;
    case U's':
    case U'c': return PlayerCommand::CycleSubtitles;
    case U'[': return PlayerCommand::SlowerSpeed;
    case U']': return PlayerCommand::FasterSpeed;
    case U'z': return PlayerCommand::SubtitleDelayLess;
    case U'x': return PlayerCommand::SubtitleDelayMore;
    case U'g': return PlayerCommand::AudioDelayLess;
    case U'h': return PlayerCommand::AudioDelayMore;
    case U'-': return PlayerCommand::SubtitleSmaller;
    case U'+':
    case U'=': return PlayerCommand::SubtitleLarger;  // "=" is "+" without Shift on many layouts
    case U'?': return PlayerCommand::ShowKeys;
    default: return std::nullopt;
    }
}

const std::vector<PlayerKeyHelp>& playerKeyHelp() {
    static const std::vector<PlayerKeyHelp> help = {
        {"Espacio", "Reproducir o pausar"},
        {"\u2190 \u2192", "Retroceder o avanzar 10 s"},
        {"\u2191 \u2193", "Subir o bajar el volumen"},
        {"M", "Silenciar o activar el sonido"},
        {"F", "Pantalla completa"},
        {"A", "Cambiar la pista de audio"},
        {"S o C", "Cambiar los subtítulos"},
        {"[ ]", "Velocidad más lenta o más rápida"},
        {"Retroceso", "Velocidad normal"},
        {"Re Pág  Av Pág", "Capítulo anterior o siguiente"},
        {"Z X", "Subtítulos 100 ms antes o después"},
        {"G H", "Sonido 100 ms antes o después"},
        {"- +", "Subtítulos más pequeños o más grandes"},
        {"? o F1", "Mostrar u ocultar esta lista"},
        {"Esc", "Volver a la biblioteca"},
    };
    return help;
}

}  // namespace brindlemar
