// The player's remembered volume and mute, in a key file of the user's configuration
// folder: $XDG_CONFIG_HOME/com.brindlemar.app/player.ini. Read and written on a
// worker thread; the answers come on the main loop.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/platform.hpp"

namespace brindlemar::gtk {

// The file, under `configDirectory` (g_get_user_config_dir() in the app).
std::string playerPreferencesPath(const std::string& configDirectory);

// What the file holds: nothing when it is missing or damaged. A damaged file (not a
// key file, or a value of the wrong kind) is renamed to "player.ini.damaged" first, so
// the next save starts afresh and the user's old file is still there to look at.
void loadPlayerPreferencesFrom(const std::string& path,
                               std::function<void(std::optional<PlayerPreferences>)> done);

// Writes them atomically (the folder made when missing). Saves never overlap: one
// asked for while another is under way is written after it, and only the latest of
// those. `written` (tests) comes on the main loop once nothing is left to write.
void savePlayerPreferencesTo(const std::string& path, const PlayerPreferences& preferences,
                             std::function<void()> written = {});

}  // namespace brindlemar::gtk
