#include "SGStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "SGMemory.h"

static_assert(sizeof(SGStream) == 112);
static_assert(offsetof(SGStream, position) == 8);
static_assert(offsetof(SGStream, available) == 24);
static_assert(offsetof(SGStream, flushed) == 32);
static_assert(offsetof(SGStream, read) == 40);
static_assert(offsetof(SGStream, write) == 80);
static_assert(offsetof(SGStream, next) == 88);
static_assert(offsetof(SGStream, user) == 96);

namespace {

constexpr int kArgument = SG_STREAM_ERR_ARGUMENT;
constexpr int kRange = -1;
constexpr uint32_t kDefaultChunk = 32768;

// The buffer's block may be larger than its length, so that appending piece by piece costs
// amortised constant time. Only the stream knows the spare room: the SGBinary keeps its layout
// and its length is always exactly the bytes it holds.
struct BufferData {
    SGBinary* buffer;
    uint64_t offset;
    unsigned char* block;  // the block the spare room belongs to
    uint32_t blockLength;  // the buffer's length when the stream last wrote it
    uint32_t capacity;
};

constexpr uint64_t kFirstCapacity = 256;

// Room known for the buffer as it is now. When anything but the stream has replaced or resized
// it, only its length is known to be there.
uint32_t capacityOf(BufferData* d) {
    const SGBinary* b = d->buffer;
    if (b->data != d->block || b->length != d->blockLength || d->capacity < b->length) {
        d->block = b->data;
        d->blockLength = b->length;
        d->capacity = b->length;
    }
    return d->capacity;
}

struct WindowData {
    uint64_t start;
    uint64_t length;
    SGStream* window;
    SGStream* source;
};

int bufferRead(void* user, void* destination, uint32_t length) {
    auto* d = static_cast<BufferData*>(user);
    if (length == 0) return 0;
    if (!destination || d->offset > d->buffer->length || length > d->buffer->length - d->offset)
        return kRange;
    std::memcpy(destination, d->buffer->data + d->offset, length);
    d->offset += length;
    return 0;
}

uint64_t bufferAvailable(void* user) {
    auto* d = static_cast<BufferData*>(user);
    return d->offset < d->buffer->length ? d->buffer->length - d->offset : 0;
}

int bufferMoveTo(void* user, int64_t relative) {
    auto* d = static_cast<BufferData*>(user);
    const int64_t target = static_cast<int64_t>(d->offset) + relative;
    if (target < 0 || static_cast<uint64_t>(target) > d->buffer->length) return kRange;
    d->offset = static_cast<uint64_t>(target);
    return 0;
}

int bufferWrite(void* user, const void* source, uint32_t length) {
    auto* d = static_cast<BufferData*>(user);
    if (length == 0) return 0;
    if (!source) return kArgument;
    SGBinary* b = d->buffer;
    if (d->offset > b->length) return kRange;
    if (!b->data && b->length != 0) return kArgument;
    const uint64_t end = d->offset + length;
    if (end > UINT32_MAX) return kRange;
    const uint32_t capacity = capacityOf(d);
    const auto* bytes = static_cast<const unsigned char*>(source);
    if (end > capacity) {
        const uint64_t grown = std::max<uint64_t>(
            end, std::min<uint64_t>(UINT32_MAX, std::max(kFirstCapacity, uint64_t{capacity} * 2)));
        // The source may lie in the buffer itself: find it again after the block moves.
        const auto at = reinterpret_cast<uintptr_t>(bytes) - reinterpret_cast<uintptr_t>(b->data);
        const bool inside = b->data && at < capacity;
        auto* block = static_cast<unsigned char*>(SGMemory_realloc(b->data, grown));
        if (!block) return SG_STREAM_ERR_MEMORY;  // the buffer is as it was
        if (inside) bytes = block + at;
        b->data = block;
        d->block = block;
        d->capacity = static_cast<uint32_t>(grown);
    }
    std::memmove(b->data + d->offset, bytes, length);
    if (end > b->length) b->length = static_cast<uint32_t>(end);
    d->blockLength = b->length;
    d->offset = end;
    return 0;
}

// Reads from the source at the window's point and puts the source back where it was.
int windowRead(void* user, void* destination, uint32_t length) {
    auto* w = static_cast<WindowData*>(user);
    const uint64_t at = w->window->position;
    if (at > w->length || length > w->length - at) return kRange;
    SGStream* source = w->source;
    const uint64_t home = source->position;
    int rc = SGStream_MoveTo(source, static_cast<int64_t>(w->start + at - home));
    if (rc == 0) rc = SGStream_Read(destination, length, source);
    const int back = SGStream_MoveTo(source, static_cast<int64_t>(home - source->position));
    return rc != 0 ? rc : back;
}

// What the source still holds from the window's point, within the window; nothing moves.
uint64_t windowAvailable(void* user) {
    auto* w = static_cast<WindowData*>(user);
    const uint64_t at = w->window->position;
    if (at >= w->length) return 0;
    uint64_t sourceLeft = 0;
    if (SGStream_ReadAvailable(&sourceLeft, w->source) != 0) return 0;
    const uint64_t end = w->source->position + sourceLeft;
    const uint64_t point = w->start + at;
    if (end <= point) return 0;
    return std::min(w->length - at, end - point);
}

}  // namespace

extern "C" {

int SGStream_InitWithBinary(SGStream* stream, SGBinary* buffer) {
    if (!stream || !buffer) return kArgument;
    auto* d = static_cast<BufferData*>(SGMemory_calloc(1, sizeof(BufferData)));
    if (!d) return SG_STREAM_ERR_MEMORY;
    d->buffer = buffer;
    d->offset = 0;
    d->block = buffer->data;
    d->blockLength = buffer->length;
    d->capacity = buffer->length;
    if (stream->mode == 0) stream->mode = SG_STREAM_MODE_INPUT;
    stream->owns = 1;
    stream->position = 0;
    stream->read = bufferRead;
    stream->availableFn = bufferAvailable;
    stream->moveTo = bufferMoveTo;
    stream->write = bufferWrite;
    stream->flush = nullptr;
    stream->close = nullptr;
    stream->user = d;
    return 0;
}

int SGStream_InitWithStream(SGStream* stream, SGStream* source, uint64_t start, uint64_t length) {
    if (!stream || !source || stream == source) return kArgument;
    auto* w = static_cast<WindowData*>(SGMemory_calloc(1, sizeof(WindowData)));
    if (!w) return SG_STREAM_ERR_MEMORY;
    w->start = start;
    w->length = length;
    w->window = stream;
    w->source = source;
    if (stream->mode == 0) stream->mode = SG_STREAM_MODE_WINDOW;
    stream->owns = 1;
    stream->position = 0;
    stream->read = windowRead;
    stream->availableFn = windowAvailable;
    stream->moveTo = nullptr;
    stream->close = nullptr;
    stream->user = w;
    return 0;
}

int SGStream_InitForInput(SGStream* stream, SGStreamReadFn read, SGStreamAvailableFn available,
                          SGStreamMoveToFn moveTo, SGStreamCloseFn close, void* user) {
    if (!stream) return kArgument;
    if (stream->mode == 0) stream->mode = SG_STREAM_MODE_INPUT;
    stream->owns = 0;
    stream->position = 0;
    stream->read = read;
    stream->availableFn = available;
    stream->moveTo = moveTo;
    stream->close = close;
    stream->user = user;
    return 0;
}

int SGStream_InitForOutput(SGStream* stream, SGStreamWriteFn write, SGStreamMoveToFn moveTo,
                           SGStreamFlushFn flush, SGStreamCloseFn close, void* user) {
    if (!stream) return kArgument;
    if (stream->mode == 0) stream->mode = SG_STREAM_MODE_OUTPUT;
    stream->owns = 0;
    stream->position = 0;
    stream->write = write;
    stream->moveTo = moveTo;
    stream->flush = flush;
    stream->close = close;
    stream->user = user;
    return 0;
}

int SGStream_AddChain(SGStream* stream, SGStream* next) {
    if (!stream || !next) return kArgument;
    SGStream* last = stream;
    for (;;) {
        if (last == next) return kArgument;  // would close a loop
        if (!last->next) break;
        last = last->next;
    }
    last->next = next;
    return 0;
}

int SGStream_Read(void* destination, uint32_t length, SGStream* stream) {
    if (!stream || !stream->read) return kArgument;
    const int rc = stream->read(stream->user, destination, length);
    if (rc == 0) stream->position += length;
    return rc;
}

int SGStream_ReadAvailable(uint64_t* available, SGStream* stream) {
    if (!available || !stream || !stream->user) return -1;
    if (stream->available != 0)
        *available = stream->available;
    else
        *available = stream->availableFn ? stream->availableFn(stream->user) : 0;
    return 0;
}

int SGStream_Write(const void* source, uint32_t length, SGStream* stream) {
    if (!stream || !stream->write) return kArgument;
    return stream->write(stream->user, source, length);
}

int SGStream_WriteByte(int byte, SGStream* stream) {
    const unsigned char b = static_cast<unsigned char>(byte);
    return SGStream_Write(&b, 1, stream);
}

int SGStream_GetPosition(uint64_t* position, SGStream* stream) {
    if (!position || !stream) return kArgument;
    *position = stream->position;
    return 0;
}

int SGStream_SetPosition(SGStream* stream, uint64_t position) {
    if (!stream) return kArgument;
    return SGStream_MoveTo(stream, static_cast<int64_t>(position - stream->position));
}

int SGStream_MoveTo(SGStream* stream, int64_t relative) {
    if (!stream) return kArgument;
    if (!stream->moveTo) return 0;
    const int rc = stream->moveTo(stream->user, relative);
    if (rc == 0) stream->position += static_cast<uint64_t>(relative);
    return rc;
}

int SGStream_Pipe(SGStream* destination, SGStream* source, uint32_t chunk) {
    if (!destination || !source) return kArgument;
    if (!source->user) return SG_STREAM_ERR_NO_DATA;
    if (chunk == 0) chunk = kDefaultChunk;
    uint64_t remaining = 0;
    SGStream_ReadAvailable(&remaining, source);
    int rc = 0;
    if (remaining > 0) {
        if (!destination->write) return kArgument;
        auto* buffer =
            static_cast<unsigned char*>(SGMemory_malloc(std::min<uint64_t>(chunk, remaining)));
        if (!buffer) return SG_STREAM_ERR_MEMORY;
        while (remaining > 0) {
            const auto k = static_cast<uint32_t>(std::min<uint64_t>(chunk, remaining));
            rc = SGStream_Read(buffer, k, source);
            // A failed read leaves nothing sound to write: stop, and do not finish the output
            // as if it were whole.
            if (rc != 0) break;
            SGStream_Write(buffer, k, destination);
            remaining -= k;
        }
        SGMemory_free(buffer);
        if (rc != 0) return rc;
    }
    SGStream_Flush(destination);
    return rc;
}

int SGStream_Flush(SGStream* stream) {
    if (!stream) return kArgument;
    if (stream->flushed) return 0;
    stream->flushed = 1;
    return stream->flush ? stream->flush(stream->user) : 0;
}

int SGStream_Close(SGStream* stream) {
    if (!stream) return kArgument;
    if (stream->closed) return 0;
    SGStream_Flush(stream);
    if (!stream->close) return 0;
    stream->closed = 1;
    return stream->close(stream->user);
}

int SGStream_Reset(SGStream* stream) {
    if (!stream) return kArgument;
    if (stream->owns && stream->user) SGMemory_free(stream->user);
    std::memset(stream, 0, sizeof *stream);
    return 0;
}

}  // extern "C"
