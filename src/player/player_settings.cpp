// The player's volume and mute, remembered across videos and launches: loaded once
// at launch, given to every new player, and stored again whenever the user changes
// them, with the control bar, a key or the mouse wheel.
#include <cmath>

#include "player/player_steps.hpp"
#include "shell/app_delegate.hpp"

namespace brindlemar {

namespace {
// A volume the player reports this close to the remembered one is the same volume
// (players keep their own units and round).
constexpr double volumeTolerance = 0.0005;
}  // namespace

void AppDelegate::playerPreferencesLoaded(std::optional<PlayerPreferences> stored) {
    if (std::exchange(preferencesLoaded, true)) return;
    // Nothing stored keeps the defaults; and what the user chose in a video that began
    // before the answer came wins over what was stored.
    if (!stored || preferencesChanged) return;
    playerPreferences = usablePlayerPreferences(*stored);
    if (!player) return;
    player->setVolume(playerPreferences.volume);
    player->setMuted(playerPreferences.muted);
}

void AppDelegate::playerSettingsChanged() {
    if (!player) return;
    PlayerPreferences current = playerPreferences;
    std::optional<double> volume = player->volume();
    if (volume && std::isfinite(*volume) && std::fabs(*volume - playerPreferences.volume) > volumeTolerance)
        current.volume = *volume;
    current.muted = player->muted();
    if (current != playerPreferences) {
        playerPreferences = usablePlayerPreferences(current);
        preferencesChanged = true;
        platform_.savePlayerPreferences(playerPreferences);
    }
    refreshNowPlaying();  // the speed may have changed
}

}  // namespace brindlemar
