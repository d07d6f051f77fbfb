// Recipe output made once per build folder: every test runs in a process of its own, so material
// that does not depend on the process (keys, fixed hierarchies) is made by the first process that
// asks for it, under a file lock, and reused by the others.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "TestKit.h"

namespace testkit {

inline fs::path pkiCacheRoot() {
#ifdef BRINDLOW_BUILD_DIR
    return fs::path(BRINDLOW_BUILD_DIR) / "testkit-cache";
#else
    return fs::temp_directory_path() / ("brindlow-testkit-cache-" + std::to_string(::getuid()));
#endif
}

// The folder with the recipe's output for these arguments, made when missing; empty when the
// recipe fails (its messages in *output). A change of the recipe or of pki.sh makes it anew.
inline fs::path cachedPki(const std::string& recipe, const std::vector<std::string>& arguments = {},
                          std::string* output = nullptr) {
    const fs::path kit(BRINDLOW_TESTKIT_DIR);
    std::string key =
        readText(kit / "pki.sh") + '\0' + readText(kit / "recipes" / (recipe + ".sh"));
    for (const auto& a : arguments) key += '\0' + a;
    char digest[32];
    std::snprintf(digest, sizeof digest, "%016zx", std::hash<std::string>{}(key));
    const fs::path root = pkiCacheRoot();
    const fs::path target = root / (recipe + "-" + digest);
    const fs::path complete = target / ".complete";
    if (fs::exists(complete)) return target;

    std::error_code ec;
    fs::create_directories(root, ec);
    const int lock = ::open((root / (recipe + "-" + digest + ".lock")).c_str(),
                            O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (lock < 0) return fs::path();
    ::flock(lock, LOCK_EX);
    if (!fs::exists(complete)) {
        const fs::path work =
            root / (recipe + "-" + digest + ".work." + std::to_string(::getpid()));
        fs::remove_all(work, ec);
        if (pki(recipe, work, arguments, output)) {
            writeText(work / ".complete", recipe + "\n");
            fs::remove_all(target, ec);
            fs::rename(work, target, ec);
        } else {
            fs::remove_all(work, ec);
        }
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return fs::exists(complete) ? target : fs::path();
}

}  // namespace testkit
