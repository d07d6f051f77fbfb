#include "Processes.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <optional>
#include <set>
#include <string_view>

namespace brindlow::platform {

namespace {

// The ids of $BRINDLOW_PROCESS_SCOPE, or nullopt when it is unset: a test that starts its own
// copies lists them there, so that it never ends a process it did not start.
std::optional<std::set<long>> processScope() {
    const char* env = std::getenv("BRINDLOW_PROCESS_SCOPE");
    if (!env) return std::nullopt;
    std::set<long> ids;
    std::string_view rest(env);
    while (!rest.empty()) {
        const size_t end = std::min(rest.find_first_of(" \t\n,"), rest.size());
        const std::string_view word = rest.substr(0, end);
        long pid = 0;
        const auto [last, ec] = std::from_chars(word.data(), word.data() + word.size(), pid);
        if (!word.empty() && ec == std::errc() && last == word.data() + word.size() && pid > 0)
            ids.insert(pid);
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return ids;
}

}  // namespace

std::vector<pid_t> runningProcessesNamed(const std::string& name) {
    std::vector<pid_t> found;
    const std::optional<std::set<long>> scope = processScope();
    if (scope && scope->empty()) return found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    const uid_t uid = getuid();
    const pid_t self = getpid();
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*entry->d_name == '\0' || *end != '\0' || pid <= 0 || pid == self) continue;
        if (scope && !scope->contains(pid)) continue;
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
