#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Entropy.h"
#include "SGCrypto.h"
#include "SGDRBG.h"
#include "SGRandom.h"

namespace {

constexpr uint32_t kRandomBlock = 512;
constexpr int kDirectoryNames = 50;

void SGEntropy_Noise_UNIX(SGEntropyCollector* c) {
    const clock_t ticks = times(nullptr);
    SGEntropy_Add(c, &ticks, sizeof ticks, SG_ENTROPY_SKIP_00_FF, "times");
    timeval tv{};
    gettimeofday(&tv, nullptr);
    SGEntropy_Add(c, &tv, sizeof tv, SG_ENTROPY_SKIP_00_FF, "gettimeofday");
    // The drand48 value seeded with the microseconds, on a private state so that no other
    // user of drand48 is disturbed and threads do not race on it.
    const long seed = tv.tv_usec;
    unsigned short xsubi[3] = {0x330E, static_cast<unsigned short>(seed),
                               static_cast<unsigned short>(seed >> 16)};
    const double value = erand48(xsubi);
    SGEntropy_Add(c, &value, sizeof value, SG_ENTROPY_SKIP_00_FF, "drand48");
}

// Reads the random device as a file (a directory contributes its first names); true when it
// delivered bytes.
bool SGEntropy_File_UNIX(SGEntropyCollector* c, const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        dirent** names = nullptr;
        const int n = scandir(path, &names, nullptr, alphasort);
        for (int i = 0; i < n; ++i) {
            if (i < kDirectoryNames)
                SGEntropy_Add(c, names[i]->d_name,
                              static_cast<uint32_t>(std::strlen(names[i]->d_name)),
                              SG_ENTROPY_SKIP_00_FF, "directory");
            std::free(names[i]);
        }
        std::free(names);
        return false;
    }
    FILE* f = std::fopen(path, "r");
    if (!f) return false;
    unsigned char buffer[kRandomBlock];
    const size_t n = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    SGEntropy_Add(c, buffer, static_cast<uint32_t>(n), SG_ENTROPY_SKIP_0A_20, path);
    SGCrypto_cleanse(buffer, sizeof buffer);
    return n > 0;
}

// Returns whether an operating-system random source delivered.
bool SGEntropy_System_MACOS(SGEntropyCollector* c) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    SGEntropy_Add(c, &usage, sizeof usage, SG_ENTROPY_SKIP_00_FF, "getrusage");
    const pid_t pid = getpid();
    SGEntropy_Add(c, &pid, sizeof pid, SG_ENTROPY_ALL, "getpid");
    const std::vector<unsigned char> info = brindlow::platform::processInfo();
    SGEntropy_Add(c, info.data(), static_cast<uint32_t>(info.size()), SG_ENTROPY_SKIP_00_FF,
                  "process");
    void* block = std::malloc(512);
    SGEntropy_Add(c, &block, sizeof block, SG_ENTROPY_ALL, "malloc");
    std::free(block);

    const brindlow::platform::EntropySource source = brindlow::platform::entropySource();
    unsigned char random[kRandomBlock] = {};
    const bool system = source.randomBytes && source.randomBytes(random, sizeof random);
    SGEntropy_Add(c, random, sizeof random, SG_ENTROPY_ALL, "random");
    SGCrypto_cleanse(random, sizeof random);
    const bool device = SGEntropy_File_UNIX(c, source.devicePath.c_str());
    return system || device;
}

bool SGEntropy_System_UNIX(SGEntropyCollector* c) {
    return SGEntropy_System_MACOS(c);
}

void SGEntropy_Launch_UNIX(SGEntropyCollector*) {}

}  // namespace

extern "C" {

int SGEntropy_Add(SGEntropyCollector* c, const void* bytes, uint32_t length, int filter,
                  const char*) {
    if (!c || !c->buffer || c->size == 0 || !bytes || length == 0) return 0;
    const auto* in = static_cast<const unsigned char*>(bytes);
    for (uint32_t i = 0; i < length; ++i) {
        const unsigned char b = in[i];
        if (filter == SG_ENTROPY_SKIP_00_FF && (b == 0x00 || b == 0xFF)) continue;
        if (filter == SG_ENTROPY_SKIP_0A_20 && (b == 0x0A || b == 0x20)) continue;
        c->buffer[c->position] ^= b;
        if (++c->position >= c->size) c->position = 0;
    }
    return 0;
}

int SGEntropy(unsigned char* buffer, uint32_t length) {
    SGEntropyCollector c{buffer, 0, length};
    SGEntropy_Noise_UNIX(&c);
    const bool delivered = SGEntropy_System_UNIX(&c);
    SGEntropy_Launch_UNIX(&c);
    // Clocks and process data alone are guessable: without the system's randomness this is
    // no seed.
    return delivered ? 0 : SG_DRBG_ERR_NO_ENTROPY;
}

int SGEntropy_SetLevel(int level) {
    return level == 1 || level == 2 ? 0 : -1;
}

}  // extern "C"
