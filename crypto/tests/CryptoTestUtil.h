// Helpers shared by the crypto tests: hex, and the "Key = value" blocks of vector files.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace cryptotest {

using Bytes = std::vector<unsigned char>;

inline Bytes unhex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string hex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789abcdef";
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

// One block of "Key = value" lines; section headers ("[L = 20]") are kept under "[section]".
using Record = std::map<std::string, std::string>;

// Reads the blank-line separated blocks of a vector file; '#' starts a comment line.
inline std::vector<Record> readRecords(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::vector<Record> records;
    Record current;
    std::string section, line;
    auto flush = [&] {
        if (!current.empty()) {
            current["[section]"] = section;
            records.push_back(current);
            current.clear();
        }
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '#') continue;
        if (line.empty()) {
            flush();
            continue;
        }
        if (line[0] == '[') {
            flush();
            section = line;
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        current[key] = value;
    }
    flush();
    return records;
}

inline const std::string kVectors = "/usr/lib/python3/dist-packages/cryptography_vectors";

}  // namespace cryptotest
