#pragma once

#include <string>

namespace brindlemar {

// A number as player events carry it: the shortest decimal that reads back as the
// same double, with at least one digit after the point (12.0, 0.5), exponent form
// below 0.0001 (1e-05, 2.5e-07), and nan, inf, -inf.
std::string formatNumber(double value);

// The scripts that tell the page about playback and about the mini-player.
std::string playerEventScript(const std::string& type, const std::string& extraFields);
std::string pipStateScript(bool state);

}  // namespace brindlemar
