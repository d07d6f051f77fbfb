#include "Processes.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>

namespace brindlow::platform {

std::vector<pid_t> runningProcessesNamed(const std::string& name) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    const uid_t uid = getuid();
    const pid_t self = getpid();
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*entry->d_name == '\0' || *end != '\0' || pid <= 0 || pid == self) continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        struct stat st;
        if (stat(dir.c_str(), &st) != 0 || st.st_uid != uid) continue;
        char target[PATH_MAX];
        const ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof(target) - 1);
        if (n <= 0) continue;
        std::string_view exe(target, static_cast<size_t>(n));
        constexpr std::string_view kDeleted = " (deleted)";
        if (exe.ends_with(kDeleted)) exe.remove_suffix(kDeleted.size());
        const size_t slash = exe.rfind('/');
        if (slash != std::string_view::npos) exe.remove_prefix(slash + 1);
        if (exe == name) found.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return found;
}

int signalProcess(pid_t pid, int signal) {
    if (pid <= 0) return EINVAL;
    return kill(pid, signal) == 0 ? 0 : errno;
}

}  // namespace brindlow::platform
