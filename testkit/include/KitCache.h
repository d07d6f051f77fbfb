// Material made once per build folder. Every test runs in a process of its own, so material that
// takes openssl a while (keys, key files under many schemes) is made by the first process that
// needs it, under a file lock, into <build>/testkit-cache/<name>/<version>, and read by the rest.
// The version is a hash of whatever the material depends on (the recipes' text), so changing a
// recipe makes it again.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>

#include "TestKit.h"

namespace testkit {

// The text of pki.sh and of the named recipes, as a version key for madeOnce.
inline std::string recipeKey(std::initializer_list<std::string> recipes) {
    const fs::path kit = BRINDLOW_TESTKIT_DIR;
    std::string key = readText(kit / "pki.sh");
    for (const std::string& r : recipes) key += readText(kit / "recipes" / (r + ".sh"));
    return key;
}

// The folder of the material: made by make(work folder) when missing (make returns false on
// failure; its folder is then discarded). Empty when it could not be made.
inline fs::path madeOnce(const std::string& name, const std::string& key,
                         const std::function<bool(const fs::path&)>& make,
                         const fs::path& buildDir = BRINDLOW_BUILD_DIR) {
    const fs::path base = buildDir / "testkit-cache" / name;
    const fs::path target = base / std::to_string(std::hash<std::string>{}(key));
    if (fs::exists(target / ".complete")) return target;
    std::error_code ec;
    fs::create_directories(base, ec);
    const int lock = ::open((base / ".lock").c_str(), O_CREAT | O_RDWR, 0600);
    if (lock < 0) return fs::path();
    ::flock(lock, LOCK_EX);
    if (!fs::exists(target / ".complete")) {
        const fs::path work = target.string() + ".work." + std::to_string(::getpid());
        fs::remove_all(work, ec);
        fs::create_directories(work, ec);
        if (make(work)) {
            writeText(work / ".complete", name + "\n");
            fs::remove_all(target, ec);
            fs::rename(work, target, ec);
        }
        fs::remove_all(work, ec);
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return fs::exists(target / ".complete") ? target : fs::path();
}

}  // namespace testkit
