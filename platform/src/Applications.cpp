#include "Applications.h"

#include <cstdlib>

namespace brindlow::platform {

std::string applicationsFolder() {
    if (const char* folder = std::getenv("BRINDLOW_APPLICATIONS"); folder && *folder) return folder;
    return "/Applications";
}

std::string installedApplicationPath(const std::string& name) {
    std::string folder = applicationsFolder();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder != "/") folder += '/';
    return folder + name + ".app";
}

}  // namespace brindlow::platform
