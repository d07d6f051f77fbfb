// Stand-ins for the desktop platform's facilities that the system expects.
#pragma once

#include <string>

namespace brindlow::platform {

// $HOME; when unset or empty, the home folder of the user database entry of the real user.
std::string homeDirectory();

// Absolute path of the running executable ("" when it cannot be read).
std::string executablePath();

}  // namespace brindlow::platform
