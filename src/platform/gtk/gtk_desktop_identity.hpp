#pragma once

#include <string>

namespace brindlemar::gtk {

// The program name ("brindlemar", the entry's command). Before GTK starts.
void setProgramIdentity();

// After GTK has started: the windows' class, com.brindlemar.app like the desktop
// entry and the Wayland app id, so that the dock groups every window under the
// entry's icon; and the application icon for every window, looked up in
// `<prefix>/share/icons` first so that the build tree and any prefix find their own.
void useApplicationIcon(const std::string& installPrefix);

}  // namespace brindlemar::gtk
