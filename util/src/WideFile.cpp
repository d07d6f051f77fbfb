#include "WideFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

std::string wstringToString(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        const auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring stringToWstring(const std::string& text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra;
        uint32_t c;
        if (b < 0x80) {
            extra = 0;
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            c = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            c = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            c = b & 0x07;
        } else {
            return {};
        }
        if (i + extra >= text.size()) return {};
        for (int k = 1; k <= extra; ++k) {
            const auto n = static_cast<unsigned char>(text[i + k]);
            if ((n & 0xC0) != 0x80) return {};
            c = (c << 6) | (n & 0x3F);
        }
        // Overlong forms, surrogates and values past the last plane are not UTF-8.
        static constexpr uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
        out += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return out;
}

FILE* wfopen(const wchar_t* path, const wchar_t* mode) {
    if (!path || !mode) return nullptr;
    const std::string p = wstringToString(path);
    const std::string m = wstringToString(mode);
    if (p.empty() || m.empty()) return nullptr;
    return std::fopen(p.c_str(), m.c_str());
}

int replaceFileContents(const std::string& path, const unsigned char* data, size_t size) {
    if (path.empty()) return -1;
    std::vector<char> tmpl(path.begin(), path.end());
    static constexpr char kSuffix[] = ".tmpXXXXXX";
    tmpl.insert(tmpl.end(), kSuffix, kSuffix + sizeof(kSuffix));
    const int fd = mkstemp(tmpl.data());
    if (fd < 0) return -1;
    const std::string tmp(tmpl.data());
    bool ok = true;
    size_t done = 0;
    while (ok && done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    // mkstemp makes 0600; the file gets the mode a plain create would have given it.
    const mode_t mask = umask(0);
    umask(mask);
    if (ok && fchmod(fd, 0666 & ~mask) != 0) ok = false;
    if (ok && fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmp.c_str());
    return ok ? 0 : -2;
}
