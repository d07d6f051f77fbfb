// The shared test kit: scratch folders, files, hex, shell commands and the openssl recipes of
// testkit/pki.sh. Every layer's tests may include it; recipes that several layers need are
// added to testkit/recipes rather than copied into a layer.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testkit {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline std::string hex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string hex(const Bytes& b) {
    return hex(b.data(), b.size());
}

// Hex digits (either case, blanks and colons ignored) to bytes.
inline Bytes unhex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<unsigned char>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const fs::path& path) {
    const Bytes b = readBytes(path);
    return std::string(b.begin(), b.end());
}

// Writes the bytes, creating missing parent folders.
inline void writeBytes(const fs::path& path, const Bytes& bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const fs::path& path, const std::string& text) {
    writeBytes(path, Bytes(text.begin(), text.end()));
}

// A text quoted for the shell.
inline std::string quote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// Standard output of a shell command; its exit status (-1 when it did not exit) in *status.
inline std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return out;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
    const int rc = ::pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// True when the command exits with 0; its output (standard error included) in *output.
inline bool succeeds(const std::string& command, std::string* output = nullptr) {
    int status = -1;
    std::string out = run("(" + command + ") 2>&1", &status);
    if (output) *output = std::move(out);
    return status == 0;
}

// A folder of its own below the system's temporary folder, removed with the object.
class Scratch {
  public:
    explicit Scratch(const std::string& prefix = "brindlow-kit") {
        std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Runs a recipe of testkit/pki.sh into the folder; false (with openssl's messages in *output)
// when it fails.
inline bool pki(const std::string& recipe, const fs::path& out,
                const std::vector<std::string>& arguments = {}, std::string* output = nullptr) {
    std::string command = "bash " + quote(std::string(BRINDLOW_TESTKIT_DIR) + "/pki.sh") + " " +
                          quote(recipe) + " " + quote(out.string());
    for (const auto& a : arguments) command += " " + quote(a);
    return succeeds(command, output);
}

}  // namespace testkit
