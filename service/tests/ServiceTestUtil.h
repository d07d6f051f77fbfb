// Helpers shared by the PKI-layer tests: a scratch folder, the openssl command line, bytes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "SGBinary.h"

namespace servicetest {

using Bytes = std::vector<unsigned char>;

inline std::string hex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string hex(const Bytes& b) {
    return hex(b.data(), b.size());
}
inline std::string hex(const SGBinary& b) {
    return hex(b.data, b.length);
}

inline Bytes unhex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A view of bytes as an SGBinary (not owned).
inline SGBinary viewOf(const Bytes& b) {
    return SGBinary{const_cast<unsigned char*>(b.data()), static_cast<uint32_t>(b.size())};
}

inline Bytes bytesOf(const SGBinary& b) {
    return Bytes(b.data, b.data + b.length);
}

// A folder of its own below the system's temporary folder, removed with the object.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "sgsvcXXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Runs a shell command in the folder; true when it exits with 0.
inline bool run(const ScratchDir& dir, const std::string& command) {
    std::string line = "cd '" + dir.path().string() + "' && (" + command + ") >cmd.log 2>&1";
    int status = std::system(line.c_str());
    bool ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
        std::ifstream log(dir / "cmd.log");
        std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        ADD_FAILURE() << "command failed: " << command << "\n" << text;
    }
    return ok;
}

}  // namespace servicetest
