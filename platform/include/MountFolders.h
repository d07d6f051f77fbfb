// Where removable media are mounted: the folders whose visible entries are one medium each.
#pragma once

#include <string>
#include <vector>

namespace brindlow::platform {

// $BRINDLOW_VOLUMES alone when set and not empty; otherwise "/Volumes" when it exists, then
// "/media/<user>" and "/run/media/<user>" (the user of the real user id). A listed folder need
// not exist.
std::vector<std::string> mountFolders();

}  // namespace brindlow::platform
