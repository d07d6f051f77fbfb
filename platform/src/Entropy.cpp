#include "Entropy.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace brindlow::platform {

namespace {

std::mutex gSourceMutex;

EntropySource& current() {
    static EntropySource source{&systemRandomBytes, "/dev/urandom"};
    return source;
}

}  // namespace

bool systemRandomBytes(void* buffer, size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        ssize_t n = getrandom(out, length, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

std::vector<unsigned char> processInfo() {
    std::vector<unsigned char> bytes;
    FILE* f = std::fopen("/proc/self/stat", "rb");
    if (!f) return bytes;
    unsigned char chunk[512];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

EntropySource entropySource() {
    std::lock_guard lock(gSourceMutex);
    return current();
}

EntropySource setEntropySource(EntropySource source) {
    std::lock_guard lock(gSourceMutex);
    EntropySource previous = current();
    current() = std::move(source);
    return previous;
}

}  // namespace brindlow::platform
