// Programs started when the user logs in: XDG autostart entries.
#pragma once

#include <string>

namespace brindlow::platform {

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
std::string autostartFolder();

// Makes the application bundle one of the user's login items: true when an entry already
// starts its executable, or when one has now been written ("<name>.desktop", or
// "<name>-2.desktop" and so on when that name belongs to another program).
bool registerAutostart(const std::string& bundle);

}  // namespace brindlow::platform
