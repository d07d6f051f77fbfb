/* The typed message: a command number and an ordered list of typed entries, with a byte form
 * for the message channel (SGSnowChannel.h).
 *
 * A new message holds the magic entry (type 9) and the format-version entry (type 16) first;
 * user entries follow. Entries are addressed by index from 0, the magic entry included.
 *
 * Byte form, every integer big-endian:
 *
 *   offset 0   u32 9,  u32 0x55334422          magic
 *   offset 8   u32 16, u32 version              1 when written; a reader refuses 0
 *   offset 16  u32 17, u32 command
 *   offset 24  the entries after the magic and version entries, in list order, each as
 *              u32 type, u32 length, then length bytes of value
 *
 * Values: type 33 a 4-byte integer and type 34 an 8-byte integer (big-endian in the byte form,
 * host order in the message), type 35 the characters of a string without a NUL, type 36 and
 * every other type the bytes as they are. Types 9, 16 and 17 are the header's: entries of those
 * types in the list are not written, and a reader refuses them after the header. A reader also
 * refuses a type 33 or 34 value of another length, a length that runs past the input, and
 * input that ends inside an entry. Parsing gives the message its command and the magic and
 * version entries again, so a message survives ToBytes and FromBytes whole. */
#ifndef SG_SNOW_MESSAGE_H
#define SG_SNOW_MESSAGE_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Results beside 0; -1 also stands for a missing message where no other code is given. */
enum {
    SG_SNOWMESSAGE_ERR_FAILED = -1,     /* missing message or argument, exhausted memory */
    SG_SNOWMESSAGE_ERR_NO_ENTRY = 1001, /* missing message (where noted) or no entry there */
    SG_SNOWMESSAGE_ERR_KIND = 1002      /* an entry of the wrong kind, or malformed bytes */
};

/* Entry types. */
enum {
    SG_SNOWMESSAGE_MAGIC = 9,
    SG_SNOWMESSAGE_VERSION = 16,
    SG_SNOWMESSAGE_COMMAND = 17,
    SG_SNOWMESSAGE_INTEGER = 33,
    SG_SNOWMESSAGE_LONG = 34,
    SG_SNOWMESSAGE_STRING = 35,
    SG_SNOWMESSAGE_BINARY = 36
};

#define SG_SNOWMESSAGE_MAGIC_VALUE 0x55334422u
#define SG_SNOWMESSAGE_FORMAT_VERSION 1
#define SG_SNOWMESSAGE_HEADER_LENGTH 24

/* States. */
#define SG_SNOWMESSAGE_STATE_CREATED 130
#define SG_SNOWMESSAGE_STATE_CLEARED 247

typedef struct SGSnowMessageEntry {
    uint32_t type;
    uint64_t length;
    unsigned char* data; /* heap copy owned by the entry, null when length is 0 */
    struct SGSnowMessageEntry* previous;
    struct SGSnowMessageEntry* next;
} SGSnowMessageEntry;

typedef struct SGSnowMessage {
    uint32_t state; /* 130 after Create; 247 after Clear, Destroy or a parse into it */
    int32_t command;
    SGSnowMessageEntry* entries; /* first entry, in insertion order */
} SGSnowMessage;

/* A new message with the command and the magic and version entries; -1 when it cannot be had. */
int SGSnowMessage_Create(SGSnowMessage** message, int command);
/* Frees every entry (wiped) and the message; 0, also for null. */
int SGSnowMessage_Destroy(SGSnowMessage* message);
/* Frees every entry and keeps the empty message; -1 for null. */
int SGSnowMessage_Clear(SGSnowMessage* message);
/* The number of entries after the first (1 for a new message). */
int SGSnowMessage_GetCount(SGSnowMessage* message, int* count);
/* *size = 12 + the entry's length; with a buffer of that size also the record: u32 type, u64
 * length (unaligned, host order), the data. -1 for a missing message or size, or an index out
 * of range. */
int SGSnowMessage_GetEntry(SGSnowMessage* message, int index, void* buffer, uint64_t* size);
/* Appends an entry with a copy of size bytes, or size zero bytes when data is null. 1001 for a
 * null message, -1 on memory. */
int SGSnowMessage_AddEntry(SGSnowMessage* message, uint32_t type, const void* data, uint64_t size);
/* Sets the command (no entry); 1001 for null. */
int SGSnowMessage_AddEntryAsCommand(SGSnowMessage* message, int command);
int SGSnowMessage_AddEntryAsInteger(SGSnowMessage* message, int32_t value);
int SGSnowMessage_AddEntryAsLong(SGSnowMessage* message, uint64_t value);
/* 1001 for a missing string. */
int SGSnowMessage_AddEntryAsString(SGSnowMessage* message, const char* value);
int SGSnowMessage_AddEntryAsBinary(SGSnowMessage* message, const void* data, uint64_t size);
/* Copies length bytes into the entry's data at offset; the range must lie inside the entry
 * (-1 otherwise, 1001 for no entry). */
int SGSnowMessage_UpdateEntryValue(SGSnowMessage* message, int index, const void* source,
                                   uint64_t offset, uint64_t length);
/* The command, or 1001 for null. */
int SGSnowMessage_GetCommand(SGSnowMessage* message);
int SGSnowMessage_GetEntryType(SGSnowMessage* message, int index, int* type);
int SGSnowMessage_GetEntryLength(SGSnowMessage* message, int index, uint64_t* length);
/* Copies length bytes of the entry's data from offset; the range must lie inside the entry. */
int SGSnowMessage_GetEntryValue(SGSnowMessage* message, int index, uint64_t offset,
                                void* destination, uint64_t length);
/* 1002 unless the entry's length is 4. */
int SGSnowMessage_GetEntryAsInteger(SGSnowMessage* message, int index, int32_t* value);
/* 1002 unless the entry is type 34 of 8 bytes. */
int SGSnowMessage_GetEntryAsLong(SGSnowMessage* message, int index, uint64_t* value);
/* A new NUL-terminated copy (SGMemory_free); 1002 unless type 35, or when memory runs out. */
int SGSnowMessage_GetEntryAsString(SGSnowMessage* message, int index, char** value);
/* SGBinary_Set with the data; 1002 unless type 36. */
int SGSnowMessage_GetEntryAsBinary(SGSnowMessage* message, int index, SGBinary* value);
/* Writes the byte form into buffer (null: only the size) and its size into *size. A null
 * message gives the 24-byte header with command 0. 1002 for an entry longer than a u32 length
 * can say, -1 for a missing size. */
int SGSnowMessage_ToBytes(SGSnowMessage* message, void* buffer, uint64_t* size);
/* Parses a byte form into the message (null: only checks it). 0; 1002 for malformed bytes; -1
 * for missing bytes or exhausted memory. On failure the message is left as it was. Nothing is
 * allocated beyond what the input's own lengths cover. */
int SGSnowMessage_FromBytes(SGSnowMessage* message, const void* bytes, uint64_t length);

SG_EXTERN_C_END

#endif
