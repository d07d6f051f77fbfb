#include "KeySource.h"

#include <mutex>

namespace brindlow::platform {

namespace {

int unavailableGenerate(unsigned, const char*, void** pair) {
    if (pair) *pair = nullptr;
    return kKeyStoreUnavailable;
}

int unavailableExport(void*, std::vector<unsigned char>*) {
    return kKeyStoreUnavailable;
}

void unavailableRemove(void*) {}

std::mutex gSourceMutex;

KeySource& current() {
    static KeySource source{&unavailableGenerate, &unavailableExport, &unavailableExport,
                            &unavailableRemove};
    return source;
}

}  // namespace

KeySource keySource() {
    std::lock_guard lock(gSourceMutex);
    return current();
}

KeySource setKeySource(KeySource source) {
    std::lock_guard lock(gSourceMutex);
    KeySource previous = current();
    current() = source;
    return previous;
}

}  // namespace brindlow::platform
