/* The message channel: typed messages (SGSnowMessage.h) over a standard-I/O file or a TCP
 * socket, through a chain of filters.
 *
 * The oldest filter, always present, is the final filter: it frames each message on the
 * transport as a 4-byte big-endian length and that many bytes. Newer filters transform the bytes
 * on their way and pass them on by calling the chain's step (SGSimpleFilterChain_Read or
 * _Write), which reaches the next older filter. Every top-level channel operation starts again
 * at the newest filter.
 *
 * The channel is one process-wide context without a lock: one thread at a time may use it. */
#ifndef SG_SNOW_CHANNEL_H
#define SG_SNOW_CHANNEL_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGSnowMessage.h"

SG_EXTERN_C_BEGIN

/* The chain's error after a failed or malformed body read; the chain then refuses every read and
 * write. */
#define SG_SNOWCHANNEL_ERR_BODY (-22222)
/* Channel transport types. */
#define SG_SNOWCHANNEL_FILE 1
#define SG_SNOWCHANNEL_SOCKET 2
/* A socket channel's time-out when none is given, in seconds. */
#define SG_SNOWCHANNEL_DEFAULT_TIMEOUT 5
/* The largest body the final filter reads or writes; a larger announced length is refused
 * before anything is allocated, and a body buffer grows only with the bytes that arrive. */
#define SG_SNOWCHANNEL_MAX_BODY (64u * 1024u * 1024u)

/* Transport: read and write length bytes within the time-out. The file transport answers the
 * byte count of both; the socket transport's read answers length or 0 on any failure and its
 * write answers 0 on success. */
typedef struct SGSnowChannelSource {
    int (*read)(void* handle, void* buffer, uint32_t length, int timeout);
    int (*write)(void* handle, const void* buffer, uint32_t length, int timeout);
    void* handle; /* FILE*, or pointer to the socket descriptor */
    int timeout;
} SGSnowChannelSource;

struct SGSimpleFilterChain;
struct SGSnowChannelNode;

/* A filter, handed to SGSnowChannel_AddFilter and copied into a chain node. */
typedef struct SGSnowChannelFilter {
    /* Produces the next incoming message's bytes into out. */
    int (*read)(SGBinary* out, struct SGSimpleFilterChain* chain);
    /* Sends one outgoing message's bytes. */
    int (*write)(SGBinary* in, struct SGSimpleFilterChain* chain);
    /* Called once when the chain is finished (may be null); the result is not used. */
    int (*close)(struct SGSnowChannelNode* node);
    SGSnowChannelSource source; /* copy of the transport, filled in by the chain */
    void* context;              /* the filter's own data */
} SGSnowChannelFilter;

typedef struct SGSnowChannelNode {
    SGSnowChannelFilter filter;
    struct SGSnowChannelNode* newer;
    struct SGSnowChannelNode* older;
} SGSnowChannelNode;

typedef struct SGSnowChannelNodes {
    SGSnowChannelSource* transport;
    SGSnowChannelNode first; /* the final filter */
    SGSnowChannelNode* cursor;
} SGSnowChannelNodes;

typedef struct SGSimpleFilterChain {
    int (*read)(struct SGSimpleFilterChain* chain, SGBinary* out);
    int (*write)(struct SGSimpleFilterChain* chain, SGBinary* in);
    SGSnowChannelNodes* nodes;
    int error;                  /* SG_SNOWCHANNEL_ERR_BODY after a failed body read */
    SGSnowChannelNode* current; /* the node being called */
} SGSimpleFilterChain;

/* Given to SGSnowChannel_Open. */
typedef struct SGSnowChannelOpen {
    void* handle; /* FILE*, or pointer to the socket descriptor */
    int type;     /* 2 socket, anything else file */
    int* timeout; /* seconds (socket only); null means 5 */
} SGSnowChannelOpen;

/* Opens the process-wide channel (handle 0); opening again finishes the previous one first. 0, or
 * -1 for a missing argument or exhausted memory. */
int SGSnowChannel_Open(int* handle, const SGSnowChannelOpen* open);
/* Appends a copy of the filter as the newest node: 0, or -1 (no channel, missing filter,
 * memory). */
int SGSnowChannel_AddFilter(int handle, const SGSnowChannelFilter* filter);
/* Reads one message into message: the chain's result (the body length for a channel without
 * filters); -1 for empty bytes or a failure; the parse error when the bytes are malformed. */
int SGSnowChannel_Read(int handle, SGSnowMessage* message);
/* Serialises the message and writes it through the chain: the chain's result (0 over a socket,
 * the byte count over a file), or -1. */
int SGSnowChannel_Write(int handle, SGSnowMessage* message);
/* The same through a given chain object. */
int SGSnowChannel_WriteMessage(SGSimpleFilterChain* chain, SGSnowMessage* message);
/* Finishes the chain: each added filter's close once, oldest added first; 0. */
int SGSnowChannel_Close(void);

/* The final filter: the 4-byte big-endian length and the body, over the chain's transport.
 * Read answers the body length, or -1 with out left empty when the length cannot be read, and
 * also sets the chain's error when the length is 0 or above the limit or the body is cut short.
 * Write answers the body write's result, or -1 when either write failed or the body is empty or
 * above the limit. */
int SGFinalFilter_Read(SGBinary* out, SGSimpleFilterChain* chain);
int SGFinalFilter_Write(SGBinary* in, SGSimpleFilterChain* chain);

/* A chain whose first node is the final filter over the transport (which must outlive it): 0,
 * or -1. */
int SGSimplerFilterChain_Init(SGSimpleFilterChain* chain, SGSnowChannelSource* transport);
int SGSimpleFilterChain_AddFilter(SGSimpleFilterChain* chain, const SGSnowChannelFilter* filter,
                                  const SGSnowChannelSource* transport);
/* The chain's steps: call the node at the cursor (the newest when the cursor is empty) and move
 * the cursor to the next older node. -1 once the chain's error is set. */
int SGSimpleFilterChain_Read(SGSimpleFilterChain* chain, SGBinary* out);
int SGSimpleFilterChain_Write(SGSimpleFilterChain* chain, SGBinary* in);
int SGSimpleFilterChain_Final(SGSimpleFilterChain* chain);

SG_EXTERN_C_END

#endif
