// How a page message travels from the web process to the UI process: a
// WebKitUserMessage with this name, whose parameters are
// (handler name, typed body, main-frame flag, origin host, origin port).
// The body is a variant holding a string ("s"), a number ("d"), a boolean ("b"),
// an object of string keys ("a{sv}", values typed the same way), or "()" for
// anything else.
#pragma once

namespace brindlemar::wire {

inline constexpr const char* pageMessageName = "brindlemar.page-message";
inline constexpr const char* pageMessageType = "(svbsx)";
inline constexpr const char* otherBodyType = "()";

}  // namespace brindlemar::wire
