// The steps the player's keys and controls take: speed, volume, delays and subtitle
// size, and how their values read in Spanish. Pure functions of the current value.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace brindlemar {

// The speeds offered in the control bar's menu, slowest first: 0.5 ... 2.
const std::vector<double>& playbackRates();
// The next speed of that menu up (direction > 0) or down (direction < 0) from
// `current`; from a speed not on the menu, the nearest one that way. At either end
// the speed stays there; a value that is not a number gives normal speed.
double nextRate(double current, int direction);

// The volume 5 % up or down, within 0...Player::maxVolume.
double stepVolume(double current, int direction);
// A subtitle or audio delay 100 ms later (direction > 0) or earlier, in whole
// milliseconds.
double stepDelay(double current, int direction);
// The subtitle size 10 % larger or smaller, within 0.5...2.
double stepSubtitleScale(double current, int direction);

// Remembered volume and mute as stored, made usable: a volume that is not a number
// is the normal level (1), as is an infinite one; one out of range is the nearest end
// of 0...Player::maxVolume.
PlayerPreferences usablePlayerPreferences(PlayerPreferences stored);

// "0,5×", "1×", "1,25×": a speed as the menu and the on-picture notice write it.
std::string rateLabel(double rate);
// "0 ms", "+100 ms", "−1200 ms": a delay in milliseconds, signed.
std::string delayLabel(double seconds);
// "150 %": a volume or subtitle size as a percentage.
std::string percentLabel(double share);

}  // namespace brindlemar
