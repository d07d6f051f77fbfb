#include "MountFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace brindlow::platform {

namespace {

std::string userName() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_name)
        return found->pw_name;
    return {};
}

}  // namespace

std::vector<std::string> mountFolders() {
    if (const char* volumes = std::getenv("BRINDLOW_VOLUMES"); volumes && *volumes)
        return {volumes};
    std::vector<std::string> folders;
    struct stat st {};
    if (stat("/Volumes", &st) == 0 && S_ISDIR(st.st_mode)) folders.emplace_back("/Volumes");
    // Without a user name there is no per-user mount folder to look at.
    if (const std::string user = userName(); !user.empty()) {
        folders.push_back("/media/" + user);
        folders.push_back("/run/media/" + user);
    }
    return folders;
}

}  // namespace brindlow::platform
