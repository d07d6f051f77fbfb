// Fuzz target of the server side of the secure channel: the input is everything a client sends
// (handshake messages, then record frames), read by a server filter on a chain of its own over
// an in-memory transport, with the golden server certificate and key. The first read must fail
// (no client can know the server's keys) with one of the channel's codes and leave its output
// empty, and the server must have sent nothing, its certificate, or its certificate and a
// 32-byte secret. A normal test (FuzzSecureChannelTest) runs it over
// data/fuzz_secure_handshake; built with clang and BRINDLOW_FUZZ it is a libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "ChannelFrames.h"
#include "SGBinary.h"
#include "SGCryptoHandler.h"
#include "SGSecureFilter.h"
#include "SGServiceTable.h"
#include "SGSnowChannel.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes readGolden(const char* name) {
    std::ifstream in(std::string(BRINDLOW_TEST_DATA) + "/secure_channel/" + name, std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.empty()) abort();
    return b;
}

struct Pipe {
    const uint8_t* data;
    size_t size, at = 0;
    Bytes sent;
};

// Like a socket: all of the bytes asked for, or 0.
int pipeRead(void* handle, void* buffer, uint32_t length, int) {
    auto* p = static_cast<Pipe*>(handle);
    if (length > p->size - p->at) return 0;
    std::memcpy(buffer, p->data + p->at, length);
    p->at += length;
    return static_cast<int>(length);
}
int pipeWrite(void* handle, const void* buffer, uint32_t length, int) {
    auto* p = static_cast<Pipe*>(handle);
    const auto* b = static_cast<const unsigned char*>(buffer);
    p->sent.insert(p->sent.end(), b, b + length);
    return static_cast<int>(length);
}

bool oneOf(int error, std::initializer_list<int> codes) {
    for (int code : codes)
        if (error == code) return true;
    return false;
}

}  // namespace

extern "C" int SGFuzzSecureHandshake(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    static const Bytes certificate = readGolden("server.der");
    static const Bytes key = readGolden("server.rsa.der");
    static const Bytes certificateMessage = channelframes::handshakeMessage(0xE1, certificate);

    SGCryptoHandlerKey handle{};
    handle.type = SG_CRYPTO_HANDLER_RSA_KEY;
    handle.form.key.der = key.data();
    handle.form.key.length = static_cast<uint32_t>(key.size());
    const SGBinary handleBytes{reinterpret_cast<unsigned char*>(&handle), 24};
    const SGBinary cert{const_cast<unsigned char*>(certificate.data()),
                        static_cast<uint32_t>(certificate.size())};

    Pipe pipe{data, size};
    SGSnowChannelSource transport{pipeRead, pipeWrite, &pipe, 1};
    SGSimpleFilterChain chain;
    SGSnowChannelFilter filter{};
    if (SGSimplerFilterChain_Init(&chain, &transport) != 0 ||
        SGSecureFilter_GetServer(&filter, &cert, &handleBytes) != 0 ||
        SGSimpleFilterChain_AddFilter(&chain, &filter, &transport) != 0)
        abort();
    SGBinary out{};
    const int rc = chain.read(&chain, &out);
    const int error = chain.error;
    if (rc != -1 || out.data || out.length) abort();
    // A later read is refused by the chain at once.
    chain.nodes->cursor = nullptr;
    if (chain.read(&chain, &out) != -1) abort();
    SGSimpleFilterChain_Final(&chain);

    // What the server sent tells how far the handshake came; the code must be that stage's.
    const Bytes& sent = pipe.sent;
    const size_t e1 = certificateMessage.size();
    if (sent.empty()) {
        if (!oneOf(error, {10721, 10002})) abort();
    } else if (sent == certificateMessage) {
        if (!oneOf(error, {10722, 10002})) abort();
    } else {
        const bool withSecret =
            sent.size() == e1 + 5 + 32 &&
            std::equal(certificateMessage.begin(), certificateMessage.end(), sent.begin()) &&
            sent[e1] == 0xE3 && sent[e1 + 4] == 32;
        if (!withSecret ||
            !oneOf(error, {10725, 10727, 222, 20902, 10002, SG_SNOWCHANNEL_ERR_BODY, -1}))
            abort();
    }
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzSecureHandshake(data, size);
}
#endif
