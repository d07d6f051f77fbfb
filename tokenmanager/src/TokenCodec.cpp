#include "TokenCodec.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "SGBase64.h"
#include "SGDigest.h"
#include "SGHex.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "TokenTables.h"
#include "Util.h"

namespace {

using brindlow::token::kLibraryUnavailable;

constexpr size_t kFileChunk = 10240;
constexpr size_t kUpdateChunk = size_t{1} << 30;  // the digest takes 32-bit lengths
constexpr int kSha256 = SG_DIGEST_SHA256;
constexpr int kSha256Size = 32;

bool isTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool digestReady() {
    return TM_CRYPTO_READY(SGDigestContext_New) && TM_CRYPTO_READY(SGDigestContext_Free) &&
           TM_CRYPTO_READY(SGDigest_GetDigestSize) && TM_CRYPTO_READY(SGDigest_Init) &&
           TM_CRYPTO_READY(SGDigest_Update) && TM_CRYPTO_READY(SGDigest_Final);
}

// A digest context of the library, released in every case.
class DigestContext {
  public:
    int open(int id) {
        if (!digestReady()) return kLibraryUnavailable;
        if (int rc = TM_CRYPTO(SGDigestContext_New)(&context_, id)) return rc;
        return TM_CRYPTO(SGDigest_Init)(context_);
    }
    int update(const unsigned char* data, size_t length) {
        while (length > 0) {
            const size_t n = std::min(length, kUpdateChunk);
            if (int rc = TM_CRYPTO(SGDigest_Update)(context_, data, static_cast<uint32_t>(n)))
                return rc;
            data += n;
            length -= n;
        }
        return 0;
    }
    int final(unsigned char* out) { return TM_CRYPTO(SGDigest_Final)(context_, out); }
    ~DigestContext() {
        if (context_) TM_CRYPTO(SGDigestContext_Free)(context_);
    }

  private:
    SGDigestContext* context_ = nullptr;
};

int digestInto(int id, const unsigned char* data, size_t length, unsigned char* out) {
    DigestContext context;
    if (int rc = context.open(id)) return rc;
    if (int rc = context.update(data, length)) return rc;
    return context.final(out);
}

bool supportedAlgorithm(int id) {
    return id == SG_DIGEST_MD5 || id == SG_DIGEST_SHA1 || id == SG_DIGEST_SHA256;
}

void setOutputs(unsigned char** out, long* outLength) {
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
}

// The size of the algorithm's digest in a new zeroed buffer; 0 with the buffer set.
int allocateDigest(int algorithm, unsigned char** buffer, long* size) {
    if (!supportedAlgorithm(algorithm)) return SG_DIGEST_ERR_ALGORITHM;
    if (!digestReady()) return kLibraryUnavailable;
    const int n = TM_CRYPTO(SGDigest_GetDigestSize)(algorithm);
    if (n <= 0 || n == SG_DIGEST_ERR_ALGORITHM) return TOKEN_CODEC_ERR_DIGEST_SIZE;
    *buffer = static_cast<unsigned char*>(TM_BASE(SGOS_calloc)(static_cast<uint32_t>(n), 1));
    if (!*buffer) return TOKEN_CODEC_ERR_MEMORY;
    *size = n;
    return 0;
}

}  // namespace

// ---- Base64 --------------------------------------------------------------------------------

int Base64::encode(char** out, unsigned int* outLength, const unsigned char* data,
                   unsigned long length) {
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
    if (!out) return SG_BASE64_ERR_ARGUMENT;
    if (length >= UINT32_MAX) return TOKEN_CODEC_ERR_MEMORY;
    void* probe = TM_BASE(SGOS_calloc)(length ? static_cast<uint32_t>(length) : 1, 1);
    if (!probe) return TOKEN_CODEC_ERR_MEMORY;
    TM_BASE(SGOS_free)(probe);
    return TM_BASE(SGBase64_Encode)(out, outLength, data, static_cast<uint32_t>(length));
}

int Base64::decode(unsigned char** out, unsigned int* outLength, const char* text) {
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
    if (!out || !text) return SG_BASE64_ERR_ARGUMENT;
    const size_t length = std::strlen(text);
    if (length >= UINT32_MAX) return SG_BASE64_ERR_INPUT;
    auto* copy = static_cast<char*>(TM_BASE(SGOS_calloc)(static_cast<uint32_t>(length + 1), 1));
    if (!copy) return TOKEN_CODEC_ERR_MEMORY;
    std::memcpy(copy, text, length);
    size_t kept = length;
    while (kept > 1 && isTrailingSpace(copy[kept - 1])) copy[--kept] = '\0';
    const int rc = TM_BASE(SGBase64_Decode)(reinterpret_cast<char**>(out), outLength, copy,
                                            static_cast<uint32_t>(kept));
    TM_BASE(SGOS_free)(copy);
    return rc;
}

void Base64::free(void* pointer) {
    if (pointer) TM_BASE(SGBase64_Free)(pointer);
}

// ---- Hex -----------------------------------------------------------------------------------

int Hex::encode(char* out, const unsigned char* data, unsigned long length, bool lowerCase) {
    if (length > (UINT32_MAX - 1) / 2) return SG_BASE_ERR_BUFFER_SIZE;
    const auto capacity = static_cast<uint32_t>(2 * length + 1);
    const int rc = TM_BASE(SGHex_Encode)(out, capacity, data, static_cast<uint32_t>(length));
    if (rc == 0 && lowerCase) {
        for (char* p = out; *p; ++p)
            *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    }
    return rc;
}

int Hex::encode(char** out, const unsigned char* data, unsigned long length, bool) {
    if (!out) return SG_BASE_ERR_NULL_ARGUMENT;
    *out = nullptr;
    if (length > (UINT32_MAX - 1) / 2) return TOKEN_HEX_ERR_MEMORY;
    const auto capacity = static_cast<uint32_t>(2 * length + 1);
    auto* buffer = static_cast<char*>(TM_BASE(SGOS_calloc)(capacity, 1));
    if (!buffer) return TOKEN_HEX_ERR_MEMORY;
    const int rc = TM_BASE(SGHex_Encode)(buffer, capacity, data, static_cast<uint32_t>(length));
    if (rc != 0) {
        TM_BASE(SGOS_free)(buffer);
        return rc;
    }
    *out = buffer;
    return 0;
}

std::string Hex::encode(const unsigned char* data, unsigned long length, bool lowerCase) {
    char* text = nullptr;
    if (encode(&text, data, length, lowerCase) != 0 || !text) return {};
    std::string result(text);
    free(text);
    return result;
}

int Hex::decode(unsigned char** out, unsigned long* outLength, const char* text) {
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
    if (!out || !outLength || !text) return SG_BASE_ERR_NULL_ARGUMENT;
    const size_t length = std::strlen(text);
    if (length >= UINT32_MAX) return TOKEN_HEX_ERR_MEMORY;
    auto* buffer = static_cast<unsigned char*>(
        TM_BASE(SGOS_calloc)(length ? static_cast<uint32_t>(length) : 1, 1));
    if (!buffer) return TOKEN_HEX_ERR_MEMORY;
    int count = 0;
    const int rc = TM_BASE(SGHex_Decode)(buffer, &count, text);
    if (rc != 0) {
        TM_BASE(SGOS_free)(buffer);
        return rc;
    }
    *out = buffer;
    *outLength = static_cast<unsigned long>(count);
    return 0;
}

int Hex::decode(unsigned char* out, unsigned long* outLength, const char* text) {
    if (outLength) *outLength = 0;
    int count = 0;
    const int rc = TM_BASE(SGHex_Decode)(out, &count, text);
    if (outLength) *outLength = static_cast<unsigned long>(count);
    return rc;
}

void Hex::free(void* pointer) {
    TM_BASE(SGOS_free)(pointer);
}

// ---- Digest --------------------------------------------------------------------------------

int Digest::digest(const char* data, long length, unsigned char** out, long* outLength) {
    setOutputs(out, outLength);
    if (!out || !outLength || length < 0 || (!data && length > 0)) return SG_DIGEST_ERR_ARGUMENT;
    if (!digestReady()) return kLibraryUnavailable;
    auto* buffer = static_cast<unsigned char*>(TM_BASE(SGOS_calloc)(kSha256Size, 1));
    if (!buffer) return TOKEN_CODEC_ERR_MEMORY;
    if (int rc = digestInto(kSha256, reinterpret_cast<const unsigned char*>(data),
                            static_cast<size_t>(length), buffer)) {
        TM_BASE(SGOS_free)(buffer);
        return rc;
    }
    *out = buffer;
    *outLength = kSha256Size;
    return 0;
}

int Digest::digestEndless(const char* data, long length, unsigned char** out, long* outLength,
                          int count) {
    if (int rc = digest(data, length, out, outLength)) return rc;
    for (int i = 0; i < count; ++i) {
        if (int rc = digestInto(kSha256, *out, kSha256Size, *out)) {
            TM_BASE(SGOS_free)(*out);
            setOutputs(out, outLength);
            return rc;
        }
    }
    return 0;
}

int Digest::digestData(const char* data, long length, int algorithm, unsigned char** out,
                       long* outLength) {
    setOutputs(out, outLength);
    if (!out || !outLength || length < 0 || (!data && length > 0)) return SG_DIGEST_ERR_ARGUMENT;
    unsigned char* buffer = nullptr;
    long size = 0;
    if (int rc = allocateDigest(algorithm, &buffer, &size)) return rc;
    if (int rc = digestInto(algorithm, reinterpret_cast<const unsigned char*>(data),
                            static_cast<size_t>(length), buffer)) {
        TM_BASE(SGOS_free)(buffer);
        return rc;
    }
    *out = buffer;
    *outLength = size;
    return 0;
}

int Digest::digestFile(const std::wstring& path, int algorithm, unsigned char** out,
                       long* outLength) {
    setOutputs(out, outLength);
    if (!out || !outLength) return SG_DIGEST_ERR_ARGUMENT;
    unsigned char* buffer = nullptr;
    long size = 0;
    if (int rc = allocateDigest(algorithm, &buffer, &size)) return rc;
    auto fail = [&](int rc) {
        TM_BASE(SGOS_free)(buffer);
        return rc;
    };
    FILE* f = Util::wfopen(path.c_str(), L"rb");
    if (!f) return fail(TOKEN_CODEC_ERR_OPEN);
    // A folder opens as a stream too, but has no content to digest.
    struct stat st;
    if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return fail(TOKEN_CODEC_ERR_OPEN);
    }
    int rc = 0;
    off_t remaining = -1;
    if (::fseeko(f, 0, SEEK_END) == 0) remaining = ::ftello(f);
    if (remaining < 0 || ::fseeko(f, 0, SEEK_SET) != 0) rc = TOKEN_CODEC_ERR_READ;
    DigestContext context;
    if (rc == 0) rc = context.open(algorithm);
    unsigned char chunk[kFileChunk];
    while (rc == 0 && remaining > 0) {
        const size_t want = std::min<size_t>(kFileChunk, static_cast<size_t>(remaining));
        const size_t got = std::fread(chunk, 1, want, f);
        if (got == 0) {
            rc = TOKEN_CODEC_ERR_READ;
            break;
        }
        rc = context.update(chunk, got);
        remaining -= static_cast<off_t>(got);
    }
    if (rc == 0) rc = context.final(buffer);
    std::fclose(f);
    if (rc != 0) return fail(rc);
    *out = buffer;
    *outLength = size;
    return 0;
}

void Digest::free(void* pointer) {
    if (pointer) TM_BASE(SGOS_free)(pointer);
}
