// Where installed application bundles live.
#pragma once

#include <string>

namespace brindlow::platform {

// $BRINDLOW_APPLICATIONS when set and not empty (tests), else "/Applications".
std::string applicationsFolder();

// The path of the installed bundle <name>.app in the applications folder.
std::string installedApplicationPath(const std::string& name);

}  // namespace brindlow::platform
