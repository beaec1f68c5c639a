#pragma once

#include <string>

namespace brindlemar {

// A number as player events carry it: the shortest decimal that reads back as the
// same double, with at least one digit after the point (12.0, 0.5), exponent form
// below 0.0001 and from 2^53 on (1e-05, 2.5e-07, 1e+308), and NaN, Infinity,
// -Infinity as a script reads them.
std::string formatNumber(double value);

// The scripts that tell the page about playback and about the mini-player.
std::string playerEventScript(const std::string& type, const std::string& extraFields);
std::string pipStateScript(bool state);

}  // namespace brindlemar
