#include "SGSnowChannel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "SGMemory.h"
#include "SGSocket.h"

namespace {

constexpr int kFailed = -1;
// A body buffer starts at most this large and grows with the bytes that arrive.
constexpr uint32_t kFirstBodyChunk = 1024 * 1024;

int fileRead(void* handle, void* buffer, uint32_t length, int) {
    return static_cast<int>(std::fread(buffer, 1, length, static_cast<FILE*>(handle)));
}

int fileWrite(void* handle, const void* buffer, uint32_t length, int) {
    auto* file = static_cast<FILE*>(handle);
    const size_t n = std::fwrite(buffer, 1, length, file);
    if (std::fflush(file) != 0) return kFailed;
    return static_cast<int>(n);
}

int socketRead(void* handle, void* buffer, uint32_t length, int timeout) {
    const int fd = *static_cast<int*>(handle);
    return SGSocket_RecvAll(fd, buffer, static_cast<int>(length), timeout) == 0
               ? static_cast<int>(length)
               : 0;
}

int socketWrite(void* handle, const void* buffer, uint32_t length, int timeout) {
    const int fd = *static_cast<int*>(handle);
    return SGSocket_SendAll(fd, buffer, static_cast<int>(length), timeout);
}

// Both transports answer a read with the byte count; a write answers the count over a file and 0
// over a socket.
bool readWhole(const SGSnowChannelSource* t, void* buffer, uint32_t length) {
    return t->read(t->handle, buffer, length, t->timeout) == static_cast<int>(length);
}

bool wroteWhole(const SGSnowChannelSource* t, int result, uint32_t length) {
    return t->write == socketWrite ? result == 0 : result == static_cast<int>(length);
}

SGSnowChannelNode* newest(SGSnowChannelNodes* nodes) {
    SGSnowChannelNode* n = &nodes->first;
    while (n->newer) n = n->newer;
    return n;
}

int step(SGSimpleFilterChain* chain, SGBinary* buffer, bool writing) {
    if (!chain || !chain->nodes || chain->error != 0) return kFailed;
    SGSnowChannelNodes* nodes = chain->nodes;
    SGSnowChannelNode* node = nodes->cursor ? nodes->cursor : newest(nodes);
    nodes->cursor = node->older;
    SGSnowChannelNode* caller = chain->current;
    chain->current = node;
    auto fn = writing ? node->filter.write : node->filter.read;
    const int rc = fn ? fn(buffer, chain) : kFailed;
    chain->current = caller;
    return rc;
}

// Each top-level operation starts again at the newest filter, also after a filter that handled
// the previous one without passing it down.
void restartAtNewest(SGSimpleFilterChain* chain) {
    if (chain->nodes) chain->nodes->cursor = nullptr;
}

struct Channel {
    bool open = false;
    SGSnowChannelOpen record{};
    SGSnowChannelSource transport{};
    SGSimpleFilterChain chain{};
};

Channel gChannel;

}  // namespace

extern "C" {

int SGFinalFilter_Read(SGBinary* out, SGSimpleFilterChain* chain) {
    if (!out || !chain || !chain->nodes || !chain->nodes->transport) return kFailed;
    out->data = nullptr;
    out->length = 0;
    const SGSnowChannelSource* t = chain->nodes->transport;
    unsigned char prefix[4];
    if (!readWhole(t, prefix, sizeof prefix)) return kFailed;
    const uint32_t length = (uint32_t{prefix[0]} << 24) | (uint32_t{prefix[1]} << 16) |
                            (uint32_t{prefix[2]} << 8) | uint32_t{prefix[3]};
    // The stream cannot be followed past a length it cannot honour.
    if (length == 0 || length > SG_SNOWCHANNEL_MAX_BODY) {
        chain->error = SG_SNOWCHANNEL_ERR_BODY;
        return kFailed;
    }
    uint32_t capacity = std::min(length, kFirstBodyChunk);
    auto* body = static_cast<unsigned char*>(SGMemory_malloc(capacity));
    if (!body) return kFailed;
    uint32_t got = 0;
    bool ok = true;
    while (ok && got < length) {
        if (got == capacity) {
            const uint32_t grown = std::min<uint32_t>(length, capacity * 2);
            auto* bigger = static_cast<unsigned char*>(SGMemory_realloc(body, grown));
            if (!bigger) {
                ok = false;
                break;
            }
            body = bigger;
            capacity = grown;
        }
        ok = readWhole(t, body + got, capacity - got);
        if (ok) got = capacity;
    }
    if (!ok) {
        SGMemory_cleanse(body, capacity);
        SGMemory_free(body);
        chain->error = SG_SNOWCHANNEL_ERR_BODY;
        return kFailed;
    }
    out->data = body;
    out->length = length;
    return static_cast<int>(length);
}

int SGFinalFilter_Write(SGBinary* in, SGSimpleFilterChain* chain) {
    if (!in || !in->data || in->length == 0 || in->length > SG_SNOWCHANNEL_MAX_BODY) return kFailed;
    if (!chain || !chain->nodes || !chain->nodes->transport) return kFailed;
    const SGSnowChannelSource* t = chain->nodes->transport;
    const uint32_t n = in->length;
    const unsigned char prefix[4] = {
        static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
        static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    if (!wroteWhole(t, t->write(t->handle, prefix, sizeof prefix, t->timeout), sizeof prefix))
        return kFailed;
    const int rc = t->write(t->handle, in->data, n, t->timeout);
    return wroteWhole(t, rc, n) ? rc : kFailed;
}

int SGSimplerFilterChain_Init(SGSimpleFilterChain* chain, SGSnowChannelSource* transport) {
    if (!chain || !transport) return kFailed;
    std::memset(chain, 0, sizeof *chain);
    auto* nodes = static_cast<SGSnowChannelNodes*>(SGMemory_calloc(1, sizeof(SGSnowChannelNodes)));
    if (!nodes) return kFailed;
    nodes->transport = transport;
    nodes->first.filter.read = SGFinalFilter_Read;
    nodes->first.filter.write = SGFinalFilter_Write;
    nodes->first.filter.source = *transport;
    chain->read = SGSimpleFilterChain_Read;
    chain->write = SGSimpleFilterChain_Write;
    chain->nodes = nodes;
    return 0;
}

int SGSimpleFilterChain_AddFilter(SGSimpleFilterChain* chain, const SGSnowChannelFilter* filter,
                                  const SGSnowChannelSource* transport) {
    if (!chain || !chain->nodes || !filter) return kFailed;
    auto* node = static_cast<SGSnowChannelNode*>(SGMemory_calloc(1, sizeof(SGSnowChannelNode)));
    if (!node) return kFailed;
    node->filter = *filter;
    node->filter.source = transport ? *transport : *chain->nodes->transport;
    SGSnowChannelNode* last = newest(chain->nodes);
    last->newer = node;
    node->older = last;
    return 0;
}

int SGSimpleFilterChain_Read(SGSimpleFilterChain* chain, SGBinary* out) {
    return step(chain, out, false);
}

int SGSimpleFilterChain_Write(SGSimpleFilterChain* chain, SGBinary* in) {
    return step(chain, in, true);
}

int SGSimpleFilterChain_Final(SGSimpleFilterChain* chain) {
    if (!chain) return kFailed;
    if (SGSnowChannelNodes* nodes = chain->nodes) {
        SGSnowChannelNode* node = nodes->first.newer;
        while (node) {
            SGSnowChannelNode* next = node->newer;
            if (node->filter.close) node->filter.close(node);
            SGMemory_cleanse(node, sizeof *node);
            SGMemory_free(node);
            node = next;
        }
        SGMemory_cleanse(nodes, sizeof *nodes);
        SGMemory_free(nodes);
    }
    std::memset(chain, 0, sizeof *chain);
    return 0;
}

int SGSnowChannel_WriteMessage(SGSimpleFilterChain* chain, SGSnowMessage* message) {
    if (!chain || !message) return kFailed;
    uint64_t size = 0;
    if (SGSnowMessage_ToBytes(message, nullptr, &size) != 0 || size > SG_SNOWCHANNEL_MAX_BODY)
        return kFailed;
    SGBinary bytes{};
    if (SGBinary_Init(&bytes, static_cast<uint32_t>(size)) != 0) return kFailed;
    int rc = SGSnowMessage_ToBytes(message, bytes.data, &size);
    if (rc == 0) {
        restartAtNewest(chain);
        rc = chain->write ? chain->write(chain, &bytes) : kFailed;
    } else {
        rc = kFailed;
    }
    SGBinary_Cleanse(&bytes);
    return rc;
}

int SGSnowChannel_Open(int* handle, const SGSnowChannelOpen* open) {
    if (!open || !open->handle) return kFailed;
    // Only one channel exists: a new one finishes the one it replaces.
    if (gChannel.open) SGSimpleFilterChain_Final(&gChannel.chain);
    gChannel.open = false;
    gChannel.record = *open;
    if (open->type == SG_SNOWCHANNEL_SOCKET) {
        gChannel.transport.read = socketRead;
        gChannel.transport.write = socketWrite;
        gChannel.transport.timeout =
            open->timeout ? *open->timeout : SG_SNOWCHANNEL_DEFAULT_TIMEOUT;
    } else {
        gChannel.transport.read = fileRead;
        gChannel.transport.write = fileWrite;
        gChannel.transport.timeout = 0;
    }
    gChannel.transport.handle = open->handle;
    if (SGSimplerFilterChain_Init(&gChannel.chain, &gChannel.transport) != 0) return kFailed;
    gChannel.open = true;
    if (handle) *handle = 0;
    return 0;
}

int SGSnowChannel_AddFilter(int, const SGSnowChannelFilter* filter) {
    if (!gChannel.open) return kFailed;
    return SGSimpleFilterChain_AddFilter(&gChannel.chain, filter, &gChannel.transport);
}

int SGSnowChannel_Write(int, SGSnowMessage* message) {
    if (!gChannel.open) return kFailed;
    return SGSnowChannel_WriteMessage(&gChannel.chain, message);
}

int SGSnowChannel_Read(int, SGSnowMessage* message) {
    if (!gChannel.open || !message) return kFailed;
    SGSimpleFilterChain* chain = &gChannel.chain;
    restartAtNewest(chain);
    SGBinary bytes{};
    int rc = chain->read(chain, &bytes);
    if (bytes.length == 0) {
        SGBinary_Cleanse(&bytes);
        return kFailed;
    }
    const int parsed = SGSnowMessage_FromBytes(message, bytes.data, bytes.length);
    SGBinary_Cleanse(&bytes);
    return parsed != 0 ? parsed : rc;
}

int SGSnowChannel_Close(void) {
    if (gChannel.open) SGSimpleFilterChain_Final(&gChannel.chain);
    gChannel.open = false;
    return 0;
}

}  // extern "C"
