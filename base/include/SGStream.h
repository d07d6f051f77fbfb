/* The library's byte stream: callbacks over some user data, with a position, to read and write
 * large contents piece by piece. Streams over an SGBinary, windows onto another stream and
 * streams over the caller's callbacks share the generic operations below.
 *
 * Callbacks answer 0 for success. A buffer stream refuses (-1) to read past the end of its
 * buffer or to move outside it; a window refuses to read past its end. */
#ifndef SG_STREAM_H
#define SG_STREAM_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Stream result codes beside the callbacks' own. */
enum {
    SG_STREAM_ERR_ARGUMENT = 1001, /* missing stream, argument or callback */
    SG_STREAM_ERR_MEMORY = 1002,   /* exhausted memory */
    SG_STREAM_ERR_NO_DATA = 1010   /* the source of a pipe has no user data */
};

/* Modes. */
#define SG_STREAM_MODE_INPUT 1
#define SG_STREAM_MODE_OUTPUT 2
#define SG_STREAM_MODE_WINDOW 3

/* Reads exactly length bytes. */
typedef int (*SGStreamReadFn)(void* user, void* destination, uint32_t length);
/* Bytes left to read. */
typedef uint64_t (*SGStreamAvailableFn)(void* user);
/* Moves by a relative offset: 0 when moved. */
typedef int (*SGStreamMoveToFn)(void* user, int64_t relative);
typedef int (*SGStreamFlushFn)(void* user);
typedef int (*SGStreamCloseFn)(void* user);
typedef int (*SGStreamWriteFn)(void* user, const void* source, uint32_t length);

/* Caller-owned record of 112 bytes, zeroed by SGStream_Reset. */
typedef struct SGStream {
    uint32_t mode;     /* 1 input, 2 output, 3 window; an init keeps a mode already set */
    uint32_t owns;     /* 1 when SGStream_Reset frees the user data */
    uint64_t position; /* bytes read or moved so far */
    uint64_t reserved1;
    uint64_t available; /* when non-zero, the bytes left, used instead of the callback */
    uint32_t flushed;
    uint32_t closed;
    SGStreamReadFn read;
    SGStreamAvailableFn availableFn;
    SGStreamMoveToFn moveTo;
    SGStreamFlushFn flush;
    SGStreamCloseFn close;
    SGStreamWriteFn write;
    struct SGStream* next; /* chain link for stream implementations */
    void* user;
    uint64_t reserved2;
} SGStream;

/* A stream that reads from and writes to the buffer from offset 0 (writing past the end
 * appends). The buffer must outlive the stream. Appending grows the buffer's block ahead of its
 * length, so that many small writes cost linear time in all; the buffer's length is always
 * exactly the bytes it holds, its data may be read at any time and it is released as any other
 * buffer (SGMemory_free, SGBinary_Reset). Change the buffer only through the stream while the
 * stream writes to it; when its data pointer or length changed behind the stream, the stream
 * counts on its length alone. A write that cannot grow the buffer (1002) leaves it as it was.
 * 1001, 1002. */
int SGStream_InitWithBinary(SGStream* stream, SGBinary* buffer);
/* A window of length bytes at start in source; the source's position is the same after a
 * window read as before. 1001, 1002. */
int SGStream_InitWithStream(SGStream* stream, SGStream* source, uint64_t start, uint64_t length);
int SGStream_InitForInput(SGStream* stream, SGStreamReadFn read, SGStreamAvailableFn available,
                          SGStreamMoveToFn moveTo, SGStreamCloseFn close, void* user);
int SGStream_InitForOutput(SGStream* stream, SGStreamWriteFn write, SGStreamMoveToFn moveTo,
                           SGStreamFlushFn flush, SGStreamCloseFn close, void* user);
/* Appends next at the end of the stream's chain; 1001 when it is there already. */
int SGStream_AddChain(SGStream* stream, SGStream* next);

/* Reads exactly length bytes; the position advances only when the read succeeded. */
int SGStream_Read(void* destination, uint32_t length, SGStream* stream);
/* The bytes left: the cached count when non-zero, else the callback's (0 without one); -1 when
 * the stream has no user data. */
int SGStream_ReadAvailable(uint64_t* available, SGStream* stream);
/* Writes through the write callback (the position does not move). */
int SGStream_Write(const void* source, uint32_t length, SGStream* stream);
int SGStream_WriteByte(int byte, SGStream* stream);
int SGStream_GetPosition(uint64_t* position, SGStream* stream);
int SGStream_SetPosition(SGStream* stream, uint64_t position);
/* Moves through moveTo and, when it answers 0, moves the position too; without moveTo nothing
 * moves and the answer is 0. */
int SGStream_MoveTo(SGStream* stream, int64_t relative);
/* Copies everything available from source to destination in chunks (0 = 32768 bytes), then
 * runs the destination's flush step once. 1002, 1010, or the result of a failed read (the copy
 * stops there and the destination is not flushed); 0. Write results are ignored. */
int SGStream_Pipe(SGStream* destination, SGStream* source, uint32_t chunk);
/* Runs the flush callback once; later calls answer 0. */
int SGStream_Flush(SGStream* stream);
/* Once: the flush step if it has not run, then the close callback; the stream is closed only
 * when it has a close callback (otherwise 0). */
int SGStream_Close(SGStream* stream);
/* Frees owned user data (never the caller's SGBinary) and zeroes the record; 0. */
int SGStream_Reset(SGStream* stream);

SG_EXTERN_C_END

#endif
