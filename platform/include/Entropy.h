// Operating-system entropy sources for the crypto library's collector, with the one point where
// a test replaces them (to make them fail or deliver chosen bytes).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brindlow::platform {

struct EntropySource {
    // Fills length bytes from the system's random generator; false when it failed.
    bool (*randomBytes)(void* buffer, size_t length);
    // The random device that the collector also reads as a file.
    std::string devicePath;
};

// getrandom(), looping over short reads and interruptions.
bool systemRandomBytes(void* buffer, size_t length);

// The process information record: the bytes of /proc/self/stat (empty when unreadable).
std::vector<unsigned char> processInfo();

// The source in use: systemRandomBytes and "/dev/urandom" unless replaced.
EntropySource entropySource();

// Replaces the source for the whole process and returns the previous one.
EntropySource setEntropySource(EntropySource source);

}  // namespace brindlow::platform
