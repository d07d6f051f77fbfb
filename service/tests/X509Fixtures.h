// The certificates that data/make_x509_fixtures.sh makes with the openssl command line, with
// what openssl reports about each. They are made once per build folder (and again when the
// script changes) into <build>/service/x509-fixtures, under a file lock, because every test
// runs in a process of its own.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "ServiceTestUtil.h"

namespace x509test {

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::filesystem::path makeFixtures() {
    namespace fs = std::filesystem;
    const fs::path script = fs::path(BRINDLOW_TEST_DATA) / "make_x509_fixtures.sh";
    const std::string key = std::to_string(std::hash<std::string>{}(readText(script)));
    const fs::path base = fs::path(BRINDLOW_BUILD_DIR) / "service" / "x509-fixtures";
    const fs::path target = base / key;
    if (fs::exists(target / "complete")) return target;
    fs::create_directories(base);
    const int lock = ::open((base / ".lock").c_str(), O_CREAT | O_RDWR, 0600);
    if (lock < 0) return fs::path();
    ::flock(lock, LOCK_EX);
    if (!fs::exists(target / "complete")) {
        const fs::path work = base / (key + ".work." + std::to_string(::getpid()));
        fs::remove_all(work);
        const std::string command = "sh '" + script.string() + "' '" + work.string() + "' >'" +
                                    (base / "make.log").string() + "' 2>&1";
        if (std::system(command.c_str()) == 0) {
            std::ofstream(work / "complete") << "made by make_x509_fixtures.sh\n";
            fs::remove_all(target);
            fs::rename(work, target);
        } else {
            ADD_FAILURE() << "make_x509_fixtures.sh failed; see " << (base / "make.log");
            fs::remove_all(work);
        }
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return fs::exists(target / "complete") ? target : fs::path();
}

// The fixture folder of this build (empty when it could not be made).
inline const std::filesystem::path& fixtures() {
    static const std::filesystem::path dir = makeFixtures();
    return dir;
}

}  // namespace x509test
