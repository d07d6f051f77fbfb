// The platform's key store as RSA key-pair generation uses it: a new pair made under a label,
// its two halves exported, and the pair removed from the store again. There is no such store
// here, so the default source reports itself unavailable and the library generates its own
// keys; tests install a source of their own to drive the store path.
#pragma once

#include <vector>

namespace brindlow::platform {

// Status of a key store that does not exist on this platform.
constexpr int kKeyStoreUnavailable = -25291;

struct KeySource {
    // Makes an RSA pair of bits bits: 0 and an opaque handle, or the store's status.
    int (*generate)(unsigned bits, const char* label, void** pair);
    // The private half as PKCS #1 RSAPrivateKey DER: 0 or the store's status.
    int (*exportPrivate)(void* pair, std::vector<unsigned char>* der);
    // The public half as SubjectPublicKeyInfo DER: 0 or the store's status.
    int (*exportPublic)(void* pair, std::vector<unsigned char>* der);
    // Deletes both halves from the store and releases the handle.
    void (*remove)(void* pair);
};

// The source in use: the unavailable store unless replaced.
KeySource keySource();

// Replaces the source for the whole process and returns the previous one.
KeySource setKeySource(KeySource source);

}  // namespace brindlow::platform
