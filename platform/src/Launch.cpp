#include "Launch.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace brindlow::platform {

namespace {

bool spawn(const std::vector<std::string>& argv, bool newSession, pid_t* pid, std::string* error) {
    if (argv.empty()) {
        if (error) *error = "nothing to run";
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (newSession) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t child = -1;
    const int rc = posix_spawn(&child, args[0], nullptr, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        if (error) *error = argv[0] + ": " + std::strerror(rc);
        return false;
    }
    if (pid) *pid = child;
    return true;
}

std::string findInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        if (!dir.empty()) {
            const std::string candidate = dir + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

}  // namespace

std::string applicationExecutablePath(const std::string& bundle) {
    std::string trimmed = bundle;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    std::string name = std::filesystem::path(trimmed).filename().string();
    if (name.size() > 4 && name.ends_with(".app")) name.resize(name.size() - 4);
    return trimmed + "/Contents/MacOS/" + name;
}

bool launchApplication(const std::string& bundle, pid_t* pid, std::string* error) {
    const std::string exe = applicationExecutablePath(bundle);
    if (access(exe.c_str(), X_OK) != 0) {
        if (error) *error = exe + ": " + std::strerror(errno);
        return false;
    }
    return spawn({exe}, true, pid, error);
}

int runAsAdministrator(const std::vector<std::string>& argv, std::string* error) {
    std::vector<std::string> command = argv;
    if (geteuid() != 0) {
        const std::string pkexec = findInPath("pkexec");
        if (pkexec.empty()) {
            if (error) *error = "pkexec is not installed";
            return -1;
        }
        command.insert(command.begin(), pkexec);
    }
    pid_t child = -1;
    if (!spawn(command, false, &child, error)) return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (!WIFEXITED(status)) {
        if (error) *error = command[0] + " ended by a signal";
        return -1;
    }
    if (WEXITSTATUS(status) != 0 && error)
        *error = command[0] + " exited with " + std::to_string(WEXITSTATUS(status));
    return WEXITSTATUS(status);
}

}  // namespace brindlow::platform
