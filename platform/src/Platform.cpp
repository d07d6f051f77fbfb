#include "Platform.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace brindlow::platform {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string executablePath() {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

}  // namespace brindlow::platform
