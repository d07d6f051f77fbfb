// Shared helpers of the token-manager tests: a temporary home folder for the whole process (set
// before main, so nothing ever sees the real one), scenarios in a freshly started copy of the
// test program for process-wide state, and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// Runs a callable that returns the number of failed checks, in a freshly started copy of
// the test program (a "threadsafe" death test re-executes it), so that process-wide state such
// as the loggers, the program variant and the clock starts as at program start. The copy has its
// own temporary home folder; the callable checks what it left there itself.
#define EXPECT_IN_FRESH_PROCESS(...)                                                            \
    do {                                                                                        \
        GTEST_FLAG_SET(death_test_style, "threadsafe");                                         \
        EXPECT_EXIT(std::exit((__VA_ARGS__)() == 0 ? 0 : 1), ::testing::ExitedWithCode(0), ""); \
    } while (0)

namespace tokentest {

namespace fs = std::filesystem;

inline std::string& homeRoot() {
    static std::string root;
    return root;
}

inline void removeHomeRoot() {
    std::error_code ec;
    if (!homeRoot().empty()) fs::remove_all(homeRoot(), ec);
}

inline std::string makeTemporaryHome() {
    char pattern[] = "/tmp/tokenmanager-test-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) std::abort();
    homeRoot() = dir;
    std::atexit(removeHomeRoot);
    const std::string home = homeRoot() + "/home";
    fs::create_directory(home);
    ::setenv("HOME", home.c_str(), 1);
    return home;
}

// The process's home folder, made and set before main.
inline const std::string kHome = makeTemporaryHome();

// A new empty folder below the temporary root.
inline std::string freshFolder(const std::string& name) {
    static int counter = 0;
    const std::string path = homeRoot() + "/" + name + "-" + std::to_string(++counter);
    fs::create_directories(path);
    return path;
}

// Failed checks of a scenario that runs in another process, reported on standard error.
struct Checks {
    int failures = 0;
    void expect(bool ok, const std::string& what) {
        if (ok) return;
        ++failures;
        std::fprintf(stderr, "check failed: %s\n", what.c_str());
    }
};

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
    const std::string text = readText(path);
    return {text.begin(), text.end()};
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline int modeOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

// Every file below a folder with its bytes, and every folder and link: a tree compared before
// and after an operation that must leave it as it was.
inline std::map<std::string, std::vector<unsigned char>> snapshot(const fs::path& top) {
    std::map<std::string, std::vector<unsigned char>> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(top, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), top).string();
        if (it->is_symlink())
            out[rel + " -> " + fs::read_symlink(it->path()).string()] = {};
        else if (it->is_directory())
            out[rel + "/"] = {};
        else
            out[rel] = readBytes(it->path().string());
    }
    return out;
}

// Standard output of a shell command, and its exit status.
inline std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    const int rc = ::pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// A self-signed RSA certificate made by the openssl command line, as DER.
inline std::vector<unsigned char> makeCertificate(const std::string& folder,
                                                  const std::string& subject,
                                                  const std::string& extra = "") {
    const std::string key = folder + "/key.pem";
    const std::string der = folder + "/cert.der";
    int status = -1;
    run("openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + key + "' -outform DER -out '" +
            der + "' -days 30 -subj '" + subject + "' " + extra + " 2>/dev/null",
        &status);
    if (status != 0) return {};
    return readBytes(der);
}

// The attribute lines ("CN=...") of a certificate's subject as openssl prints them, first RDN
// first.
inline std::vector<std::string> opensslSubject(const std::string& derPath) {
    const std::string out = run("openssl x509 -inform DER -in '" + derPath +
                                "' -noout -subject -nameopt sep_multiline,utf8,-esc_msb,sname");
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const size_t start = line.find_first_not_of(' ');
        if (line.rfind("subject=", 0) == 0 || start == std::string::npos) continue;
        lines.push_back(line.substr(start));
    }
    return lines;
}

// Local time_t of a calendar date at noon.
inline time_t localNoon(int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

}  // namespace tokentest
