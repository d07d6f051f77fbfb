#include "SGSnowMessage.h"

#include <cstring>

#include "SGMemory.h"

static_assert(sizeof(SGSnowMessageEntry) == 40);
static_assert(sizeof(SGSnowMessage) == 16);

namespace {

constexpr int kFailed = SG_SNOWMESSAGE_ERR_FAILED;
constexpr int kNoEntry = SG_SNOWMESSAGE_ERR_NO_ENTRY;
constexpr int kKind = SG_SNOWMESSAGE_ERR_KIND;
constexpr uint64_t kEntryHeader = 8;    // u32 type, u32 length
constexpr uint64_t kRecordHeader = 12;  // u32 type, u64 length

uint32_t readBE32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint64_t readBE64(const unsigned char* p) {
    return (uint64_t{readBE32(p)} << 32) | readBE32(p + 4);
}

unsigned char* writeBE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
    return p + 4;
}

unsigned char* writeBE64(unsigned char* p, uint64_t v) {
    return writeBE32(writeBE32(p, static_cast<uint32_t>(v >> 32)), static_cast<uint32_t>(v));
}

bool headerType(uint32_t type) {
    return type == SG_SNOWMESSAGE_MAGIC || type == SG_SNOWMESSAGE_VERSION ||
           type == SG_SNOWMESSAGE_COMMAND;
}

// A new entry with a copy of size bytes, or zeros when data is null.
SGSnowMessageEntry* newEntry(uint32_t type, const void* data, uint64_t size) {
    auto* e = static_cast<SGSnowMessageEntry*>(SGMemory_calloc(1, sizeof(SGSnowMessageEntry)));
    if (!e) return nullptr;
    e->type = type;
    e->length = size;
    if (size > 0) {
        e->data = static_cast<unsigned char*>(SGMemory_calloc(1, size));
        if (!e->data) {
            SGMemory_free(e);
            return nullptr;
        }
        if (data) std::memcpy(e->data, data, size);
    }
    return e;
}

void freeEntries(SGSnowMessageEntry* e) {
    while (e) {
        SGSnowMessageEntry* next = e->next;
        if (e->data) {
            SGMemory_cleanse(e->data, e->length);
            SGMemory_free(e->data);
        }
        SGMemory_cleanse(e, sizeof *e);
        SGMemory_free(e);
        e = next;
    }
}

// Builds a list in order, keeping its tail so that long inputs append in constant time.
struct EntryList {
    SGSnowMessageEntry* head = nullptr;
    SGSnowMessageEntry* tail = nullptr;

    bool add(uint32_t type, const void* data, uint64_t size) {
        SGSnowMessageEntry* e = newEntry(type, data, size);
        if (!e) return false;
        e->previous = tail;
        if (tail)
            tail->next = e;
        else
            head = e;
        tail = e;
        return true;
    }
    SGSnowMessageEntry* release() {
        SGSnowMessageEntry* h = head;
        head = tail = nullptr;
        return h;
    }
    ~EntryList() { freeEntries(head); }
};

bool addHeaderEntries(EntryList& list, uint32_t version) {
    const uint32_t magic = SG_SNOWMESSAGE_MAGIC_VALUE;
    return list.add(SG_SNOWMESSAGE_MAGIC, &magic, sizeof magic) &&
           list.add(SG_SNOWMESSAGE_VERSION, &version, sizeof version);
}

SGSnowMessageEntry* entryAt(SGSnowMessage* message, int index) {
    if (index < 0) return nullptr;
    SGSnowMessageEntry* e = message->entries;
    for (int i = 0; e && i < index; ++i) e = e->next;
    return e;
}

bool inside(const SGSnowMessageEntry* e, uint64_t offset, uint64_t length) {
    return offset <= e->length && length <= e->length - offset;
}

int append(SGSnowMessage* message, uint32_t type, const void* data, uint64_t size) {
    if (!message) return kNoEntry;
    SGSnowMessageEntry* e = newEntry(type, data, size);
    if (!e) return kFailed;
    if (!message->entries) {
        message->entries = e;
        return 0;
    }
    SGSnowMessageEntry* last = message->entries;
    while (last->next) last = last->next;
    last->next = e;
    e->previous = last;
    return 0;
}

// Parses everything after the header into list: 0 or 1002.
int parseEntries(const unsigned char* p, uint64_t left, EntryList& list) {
    while (left > 0) {
        if (left < kEntryHeader) return kKind;
        const uint32_t type = readBE32(p);
        const uint32_t length = readBE32(p + 4);
        p += kEntryHeader;
        left -= kEntryHeader;
        if (headerType(type) || length > left) return kKind;
        bool added;
        if (type == SG_SNOWMESSAGE_INTEGER) {
            if (length != 4) return kKind;
            const int32_t v = static_cast<int32_t>(readBE32(p));
            added = list.add(type, &v, sizeof v);
        } else if (type == SG_SNOWMESSAGE_LONG) {
            if (length != 8) return kKind;
            const uint64_t v = readBE64(p);
            added = list.add(type, &v, sizeof v);
        } else {
            added = list.add(type, p, length);
        }
        if (!added) return kFailed;
        p += length;
        left -= length;
    }
    return 0;
}

}  // namespace

extern "C" {

int SGSnowMessage_Create(SGSnowMessage** message, int command) {
    if (!message) return kFailed;
    auto* m = static_cast<SGSnowMessage*>(SGMemory_calloc(1, sizeof(SGSnowMessage)));
    if (!m) return kFailed;
    EntryList list;
    if (!addHeaderEntries(list, SG_SNOWMESSAGE_FORMAT_VERSION)) {
        SGMemory_free(m);
        return kFailed;
    }
    m->state = SG_SNOWMESSAGE_STATE_CREATED;
    m->command = command;
    m->entries = list.release();
    *message = m;
    return 0;
}

int SGSnowMessage_Destroy(SGSnowMessage* message) {
    if (!message) return 0;
    message->state = SG_SNOWMESSAGE_STATE_CLEARED;
    freeEntries(message->entries);
    SGMemory_cleanse(message, sizeof *message);
    SGMemory_free(message);
    return 0;
}

int SGSnowMessage_Clear(SGSnowMessage* message) {
    if (!message) return kFailed;
    message->state = SG_SNOWMESSAGE_STATE_CLEARED;
    freeEntries(message->entries);
    message->entries = nullptr;
    return 0;
}

int SGSnowMessage_GetCount(SGSnowMessage* message, int* count) {
    if (!message || !count) return kFailed;
    int n = 0;
    for (SGSnowMessageEntry* e = message->entries; e; e = e->next) ++n;
    *count = n > 0 ? n - 1 : 0;
    return 0;
}

int SGSnowMessage_GetEntry(SGSnowMessage* message, int index, void* buffer, uint64_t* size) {
    if (!message || !size) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kFailed;
    *size = kRecordHeader + e->length;
    if (buffer) {
        auto* out = static_cast<unsigned char*>(buffer);
        std::memcpy(out, &e->type, 4);
        std::memcpy(out + 4, &e->length, 8);
        if (e->length > 0) std::memcpy(out + kRecordHeader, e->data, e->length);
    }
    return 0;
}

int SGSnowMessage_AddEntry(SGSnowMessage* message, uint32_t type, const void* data, uint64_t size) {
    return append(message, type, data, size);
}

int SGSnowMessage_AddEntryAsCommand(SGSnowMessage* message, int command) {
    if (!message) return kNoEntry;
    message->command = command;
    return 0;
}

int SGSnowMessage_AddEntryAsInteger(SGSnowMessage* message, int32_t value) {
    return append(message, SG_SNOWMESSAGE_INTEGER, &value, sizeof value);
}

int SGSnowMessage_AddEntryAsLong(SGSnowMessage* message, uint64_t value) {
    return append(message, SG_SNOWMESSAGE_LONG, &value, sizeof value);
}

int SGSnowMessage_AddEntryAsString(SGSnowMessage* message, const char* value) {
    if (!value) return kNoEntry;
    return append(message, SG_SNOWMESSAGE_STRING, value, std::strlen(value));
}

int SGSnowMessage_AddEntryAsBinary(SGSnowMessage* message, const void* data, uint64_t size) {
    if (!data && size > 0) return kNoEntry;
    return append(message, SG_SNOWMESSAGE_BINARY, data, size);
}

int SGSnowMessage_UpdateEntryValue(SGSnowMessage* message, int index, const void* source,
                                   uint64_t offset, uint64_t length) {
    if (!message) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kNoEntry;
    if (!inside(e, offset, length) || (!source && length > 0)) return kFailed;
    if (length > 0) std::memcpy(e->data + offset, source, length);
    return 0;
}

int SGSnowMessage_GetCommand(SGSnowMessage* message) {
    return message ? message->command : kNoEntry;
}

int SGSnowMessage_GetEntryType(SGSnowMessage* message, int index, int* type) {
    if (!message || !type) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kNoEntry;
    *type = static_cast<int>(e->type);
    return 0;
}

int SGSnowMessage_GetEntryLength(SGSnowMessage* message, int index, uint64_t* length) {
    if (!message || !length) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kNoEntry;
    *length = e->length;
    return 0;
}

int SGSnowMessage_GetEntryValue(SGSnowMessage* message, int index, uint64_t offset,
                                void* destination, uint64_t length) {
    if (!message) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kNoEntry;
    if (!inside(e, offset, length) || (!destination && length > 0)) return kFailed;
    if (length > 0) std::memcpy(destination, e->data + offset, length);
    return 0;
}

int SGSnowMessage_GetEntryAsInteger(SGSnowMessage* message, int index, int32_t* value) {
    if (!message || !value) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kNoEntry;
    if (e->length != 4) return kKind;
    std::memcpy(value, e->data, 4);
    return 0;
}

int SGSnowMessage_GetEntryAsLong(SGSnowMessage* message, int index, uint64_t* value) {
    if (!message || !value) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kNoEntry;
    if (e->type != SG_SNOWMESSAGE_LONG || e->length != 8) return kKind;
    std::memcpy(value, e->data, 8);
    return 0;
}

int SGSnowMessage_GetEntryAsString(SGSnowMessage* message, int index, char** value) {
    if (!message || !value) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kNoEntry;
    if (e->type != SG_SNOWMESSAGE_STRING) return kKind;
    auto* text = static_cast<char*>(SGMemory_calloc(1, e->length + 1));
    if (!text) return kKind;
    if (e->length > 0) std::memcpy(text, e->data, e->length);
    *value = text;
    return 0;
}

int SGSnowMessage_GetEntryAsBinary(SGSnowMessage* message, int index, SGBinary* value) {
    if (!message || !value) return kFailed;
    SGSnowMessageEntry* e = entryAt(message, index);
    if (!e) return kNoEntry;
    if (e->type != SG_SNOWMESSAGE_BINARY || e->length > UINT32_MAX) return kKind;
    if (e->length == 0) {
        value->data = nullptr;
        value->length = 0;
        return 0;
    }
    return SGBinary_Set(value, e->data, static_cast<uint32_t>(e->length)) == 0 ? 0 : kFailed;
}

int SGSnowMessage_ToBytes(SGSnowMessage* message, void* buffer, uint64_t* size) {
    if (!size) return kFailed;
    uint64_t total = SG_SNOWMESSAGE_HEADER_LENGTH;
    if (message) {
        for (SGSnowMessageEntry* e = message->entries; e; e = e->next) {
            if (headerType(e->type)) continue;
            if (e->length > UINT32_MAX) return kKind;
            total += kEntryHeader + e->length;
        }
    }
    *size = total;
    if (!buffer) return 0;
    auto* p = static_cast<unsigned char*>(buffer);
    p = writeBE32(p, SG_SNOWMESSAGE_MAGIC);
    p = writeBE32(p, SG_SNOWMESSAGE_MAGIC_VALUE);
    p = writeBE32(p, SG_SNOWMESSAGE_VERSION);
    p = writeBE32(p, SG_SNOWMESSAGE_FORMAT_VERSION);
    p = writeBE32(p, SG_SNOWMESSAGE_COMMAND);
    p = writeBE32(p, static_cast<uint32_t>(message ? message->command : 0));
    if (!message) return 0;
    for (SGSnowMessageEntry* e = message->entries; e; e = e->next) {
        if (headerType(e->type)) continue;
        p = writeBE32(p, e->type);
        p = writeBE32(p, static_cast<uint32_t>(e->length));
        if (e->type == SG_SNOWMESSAGE_INTEGER && e->length == 4) {
            uint32_t v;
            std::memcpy(&v, e->data, 4);
            p = writeBE32(p, v);
        } else if (e->type == SG_SNOWMESSAGE_LONG && e->length == 8) {
            uint64_t v;
            std::memcpy(&v, e->data, 8);
            p = writeBE64(p, v);
        } else if (e->length > 0) {
            std::memcpy(p, e->data, e->length);
            p += e->length;
        }
    }
    return 0;
}

int SGSnowMessage_FromBytes(SGSnowMessage* message, const void* bytes, uint64_t length) {
    if (!bytes) return kFailed;
    const auto* p = static_cast<const unsigned char*>(bytes);
    if (length < SG_SNOWMESSAGE_HEADER_LENGTH) return kKind;
    const uint32_t version = readBE32(p + 12);
    if (readBE32(p) != SG_SNOWMESSAGE_MAGIC || readBE32(p + 4) != SG_SNOWMESSAGE_MAGIC_VALUE ||
        readBE32(p + 8) != SG_SNOWMESSAGE_VERSION || version == 0 ||
        readBE32(p + 16) != SG_SNOWMESSAGE_COMMAND)
        return kKind;
    const auto command = static_cast<int32_t>(readBE32(p + 20));
    EntryList list;
    if (!addHeaderEntries(list, version)) return kFailed;
    const int rc =
        parseEntries(p + SG_SNOWMESSAGE_HEADER_LENGTH, length - SG_SNOWMESSAGE_HEADER_LENGTH, list);
    if (rc != 0) return rc;
    if (message) {
        freeEntries(message->entries);
        message->entries = list.release();
        message->command = command;
        message->state = SG_SNOWMESSAGE_STATE_CLEARED;
    }
    return 0;
}

}  // extern "C"
