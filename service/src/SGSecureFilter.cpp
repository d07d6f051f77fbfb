#include "SGSecureFilter.h"

#include <algorithm>
#include <cstring>

#include "SGKeyExchange.h"
#include "SGMemory.h"
#include "SGServiceInternal.h"

namespace {

constexpr int kFailed = -1;
constexpr uint32_t kHeader = 5;
// A body buffer starts at most this large and grows with the bytes that arrive.
constexpr uint32_t kFirstChunk = 4096;
// A socket transport answers a write with 0 or an error code above 2100, a file transport with
// the byte count: pieces of at most this many bytes keep the two apart.
constexpr uint32_t kWritePiece = 2048;

PaskKeyContext** holderOf(SGSimpleFilterChain* chain) {
    if (!chain || !chain->current) return nullptr;
    return static_cast<PaskKeyContext**>(chain->current->filter.context);
}

bool readWhole(const SGSnowChannelSource& t, unsigned char* buffer, uint32_t n) {
    return t.read && t.read(t.handle, buffer, n, t.timeout) == static_cast<int>(n);
}

bool writeWhole(const SGSnowChannelSource& t, const unsigned char* bytes, uint32_t n) {
    if (!t.write) return false;
    for (uint32_t done = 0; done < n;) {
        const uint32_t piece = std::min(n - done, kWritePiece);
        const int rc = t.write(t.handle, bytes + done, piece, t.timeout);
        if (rc != 0 && rc != static_cast<int>(piece)) return false;
        done += piece;
    }
    return true;
}

// One handshake message of the expected type into body (a new buffer): false for a failed
// read, another type, or a body that is empty or longer than the bound.
bool readMessage(const SGSnowChannelSource& t, unsigned char type, SGBinary& body) {
    unsigned char header[kHeader] = {};
    if (!readWhole(t, header, kHeader) || header[0] != type) return false;
    const uint32_t length = uint32_t{header[1]} << 24 | uint32_t{header[2]} << 16 |
                            uint32_t{header[3]} << 8 | uint32_t{header[4]};
    if (length == 0 || length > SG_SECURE_FILTER_MAX_BODY) return false;
    uint32_t capacity = std::min(length, kFirstChunk), got = 0;
    auto* bytes = static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(capacity));
    while (bytes && got < length) {
        if (got == capacity) {
            const uint32_t grown = std::min(length, capacity * 2);
            auto* bigger = static_cast<unsigned char*>(SG_GBW(SGMemory_realloc)(bytes, grown));
            if (!bigger) break;
            bytes = bigger;
            capacity = grown;
        }
        if (!readWhole(t, bytes + got, capacity - got)) break;
        got = capacity;
    }
    if (!bytes || got < length) {
        SG_GBW(SGMemory_free)(bytes);
        return false;
    }
    body = SGBinary{bytes, length};
    return true;
}

bool writeMessage(const SGSnowChannelSource& t, unsigned char type, const SGBinary& body) {
    if (!body.data || body.length == 0 || body.length > SG_SECURE_FILTER_MAX_BODY) return false;
    const uint32_t n = body.length;
    const unsigned char header[kHeader] = {
        type, static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
        static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    return writeWhole(t, header, kHeader) && writeWhole(t, body.data, n);
}

// One step of the key exchange on input; its first output, when it has one, into output.
int step(PaskKeyContext** holder, const SGBinary& input, SGBinary* output) {
    SGBinaryList outputs{};
    PaskKeyInput in{};
    in.value = input;
    int r = SGKeyExchange_NextOperation(holder, &outputs, &in);
    if (r == 0 && output) {
        *output = outputs.value;  // taken over from the list head
        outputs.value = SGBinary{};
    }
    SG_GBW(SGBinaryList_Reset)(&outputs);
    return r;
}

// Receives a message of the type and runs the step on it; code when either fails.
int receiveAndStep(const SGSnowChannelSource& t, PaskKeyContext** holder, unsigned char type,
                   int code, SGBinary* output) {
    SGBinary body{};
    if (!readMessage(t, type, body)) return code;
    const int r = step(holder, body, output);
    SG_GBW(SGBinary_Reset)(&body);
    return r;
}

// Sends the message and releases its body; code when the transport fails.
int send(const SGSnowChannelSource& t, unsigned char type, SGBinary& body, int code) {
    const bool sent = writeMessage(t, type, body);
    SG_GBW(SGBinary_Reset)(&body);
    return sent ? 0 : code;
}

int clientHandshake(const SGSnowChannelSource& t, PaskKeyContext** holder) {
    SGBinary out{};
    if (int r = step(holder, SGBinary{}, &out)) return r;
    if (int r = send(t, SG_SECURE_FILTER_REQUEST, out, PASKKEY_ERR_REQUEST)) return r;
    if (int r =
            receiveAndStep(t, holder, SG_SECURE_FILTER_CERTIFICATE, PASKKEY_ERR_CERTIFICATE, &out))
        return r;
    if (int r = send(t, SG_SECURE_FILTER_RESPONSE, out, PASKKEY_ERR_CERTIFICATE)) return r;
    return receiveAndStep(t, holder, SG_SECURE_FILTER_SECRET, PASKKEY_ERR_SECRET, nullptr);
}

int serverHandshake(const SGSnowChannelSource& t, PaskKeyContext** holder) {
    SGBinary out{};
    if (int r = receiveAndStep(t, holder, SG_SECURE_FILTER_REQUEST, PASKKEY_ERR_CERTIFICATE, &out))
        return r;
    if (int r = send(t, SG_SECURE_FILTER_CERTIFICATE, out, PASKKEY_ERR_CERTIFICATE)) return r;
    if (int r = receiveAndStep(t, holder, SG_SECURE_FILTER_RESPONSE, PASKKEY_ERR_SECRET, &out))
        return r;
    return send(t, SG_SECURE_FILTER_SECRET, out, PASKKEY_ERR_SECRET);
}

// Ends the channel: the code becomes the chain's error and the keys are wiped.
int fail(SGSimpleFilterChain* chain, PaskKeyContext** holder, int code) {
    if (chain) chain->error = code;
    if (holder) SGKeyExchange_Final(holder);
    return kFailed;
}

int roleOf(PaskKeyContext** holder) {
    return holder && *holder ? (*holder)->role : -1;
}

// The holder of a new key exchange for the role, or null.
PaskKeyContext** newHolder(int role) {
    auto** holder = static_cast<PaskKeyContext**>(SG_GBW(SGMemory_calloc)(1, sizeof(void*)));
    if (holder && SGKeyExchange_Init(holder, role, 0, 0) != 0) {
        SG_GBW(SGMemory_free)(holder);
        holder = nullptr;
    }
    return holder;
}

void freeHolder(PaskKeyContext** holder) {
    SGKeyExchange_Final(holder);
    SG_GBW(SGMemory_free)(holder);
}

void fill(SGSnowChannelFilter* filter, PaskKeyContext** holder) {
    std::memset(filter, 0, sizeof *filter);
    filter->read = filter_read;
    filter->write = filter_write;
    filter->close = closeFilter;
    filter->context = holder;
}

}  // namespace

extern "C" {

int SGSecureFilter_GetClient(SGSnowChannelFilter* filter) {
    if (!filter) return PASKKEY_ERR_ARGUMENT;
    PaskKeyContext** holder = newHolder(PASKKEY_ROLE_CLIENT);
    if (!holder) return PASKKEY_ERR_MEMORY;
    fill(filter, holder);
    return 0;
}

int SGSecureFilter_GetServer(SGSnowChannelFilter* filter, const SGBinary* serverCertificate,
                             const SGBinary* keyHandle) {
    if (!filter || !serverCertificate) return PASKKEY_ERR_ARGUMENT;
    PaskKeyContext** holder = newHolder(PASKKEY_ROLE_SERVER);
    if (!holder) return PASKKEY_ERR_MEMORY;
    int r = step(holder, *serverCertificate, nullptr);
    if (r == 0) r = step(holder, keyHandle ? *keyHandle : SGBinary{}, nullptr);
    if (r != 0) {
        freeHolder(holder);
        return r;
    }
    fill(filter, holder);
    return 0;
}

int handShake(SGSimpleFilterChain* chain, int side) {
    PaskKeyContext** holder = holderOf(chain);
    const int pending = SGKeyExchange_HasMoreOperation(holder);
    if (pending == 0) return 0;
    if (pending != 1) return pending;
    const SGSnowChannelSource& transport = chain->current->filter.source;
    try {
        return side == SG_SECURE_FILTER_SERVER ? serverHandshake(transport, holder)
                                               : clientHandshake(transport, holder);
    } catch (...) {
        return PASKKEY_ERR_MEMORY;
    }
}

int filter_write(SGBinary* message, SGSimpleFilterChain* chain) {
    PaskKeyContext** holder = holderOf(chain);
    if (!holder) return fail(chain, nullptr, PASKKEY_ERR_ARGUMENT);
    if (!message || (!message->data && message->length))
        return fail(chain, holder, PASKKEY_ERR_ARGUMENT);
    if (roleOf(holder) == PASKKEY_ROLE_CLIENT) {
        if (int r = handShake(chain, SG_SECURE_FILTER_CLIENT)) return fail(chain, holder, r);
    } else if (SGKeyExchange_HasMoreOperation(holder) != 0) {
        // The server's handshake belongs to its first read.
        return fail(chain, holder, PASKKEY_ERR_ENCRYPT);
    }
    SGBinary record{};
    if (int r = SGKeyExchange_Encrypt(holder, &record, message)) return fail(chain, holder, r);
    const int rc = chain->write ? chain->write(chain, &record) : kFailed;
    SG_GBW(SGBinary_Reset)(&record);
    if (rc < 0) return fail(chain, holder, rc);
    return rc;
}

int filter_read(SGBinary* message, SGSimpleFilterChain* chain) {
    if (message) *message = SGBinary{};
    PaskKeyContext** holder = holderOf(chain);
    if (!holder) return fail(chain, nullptr, PASKKEY_ERR_ARGUMENT);
    if (!message) return fail(chain, holder, PASKKEY_ERR_ARGUMENT);
    if (roleOf(holder) == PASKKEY_ROLE_SERVER) {
        if (int r = handShake(chain, SG_SECURE_FILTER_SERVER)) return fail(chain, holder, r);
    } else if (SGKeyExchange_HasMoreOperation(holder) != 0) {
        // The client's handshake belongs to its first write.
        return fail(chain, holder, PASKKEY_ERR_DECRYPT);
    }
    SGBinary record{};
    const int rc = chain->read ? chain->read(chain, &record) : kFailed;
    if (rc < 0 || !record.data) {
        SG_GBW(SGBinary_Reset)(&record);
        return fail(chain, holder, chain->error ? chain->error : kFailed);
    }
    SGBinary plain{};
    const int r = SGKeyExchange_Decrypt(holder, &plain, &record);
    SG_GBW(SGBinary_Reset)(&record);
    if (r != 0) return fail(chain, holder, r);
    *message = plain;
    return static_cast<int>(plain.length);
}

int closeFilter(SGSnowChannelNode* node) {
    if (!node) return 0;
    if (auto** holder = static_cast<PaskKeyContext**>(node->filter.context)) freeHolder(holder);
    node->filter.context = nullptr;
    return 0;
}

}  // extern "C"
