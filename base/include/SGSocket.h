/* TCP client and server sockets with time-outs, whole-buffer transfers, the framed binary
 * message, line reception and UDP multicast.
 *
 * Sockets are plain descriptors; every time-out is a whole number of seconds (0 polls once, a
 * negative time-out is a wait error). Waiting uses poll, so descriptors above 1023 work. Sends
 * never raise SIGPIPE: a peer that resets its connection makes the send fail instead.
 *
 * Failures set the last IPC error (SGIPC.h) where noted; set-up failures also fill the
 * last-error record (SGBaseError.h) with the platform error number and a short text. */
#ifndef SG_SOCKET_H
#define SG_SOCKET_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Socket result codes (also stored as the last IPC error). */
enum {
    SG_SOCKET_ERR_ARGUMENT = 2101, /* missing argument */
    SG_SOCKET_ERR_MEMORY = 2102,   /* exhausted memory */
    SG_SOCKET_ERR_CLOSED = 2104,   /* connection closed by the peer */
    SG_SOCKET_ERR_REFUSED = 2105,  /* connection refused or failed without a time-out */
    SG_SOCKET_ERR_TIMEOUT = 2107,  /* time-out */
    SG_SOCKET_ERR_SOCKET = 2108,   /* socket creation failed */
    SG_SOCKET_ERR_BIND = 2109,     /* bind failed */
    SG_SOCKET_ERR_LISTEN = 2110,   /* listen failed */
    SG_SOCKET_ERR_CONNECT = 2112,  /* connect failed */
    SG_SOCKET_ERR_OPTION = 2114,   /* socket option failed */
    SG_SOCKET_ERR_ADDRESS = 2115,  /* name resolution failed, or not a multicast address */
    SG_SOCKET_ERR_DATAGRAM = 2116  /* datagram send or receive failed */
};

/* Address types: 2 selects IPv6, any other value IPv4 (multicast accepts only 1 for IPv4). */
#define SG_SOCKET_IPV4 1
#define SG_SOCKET_IPV6 2

/* Room for a peer's address text (IPv6 with its NUL). */
#define SG_SOCKET_PEER_LENGTH 46

/* The framed binary message: 4-byte big-endian length (payload length + 1), one type byte, the
 * payload. A received frame announcing a length of 0 (no type byte) or a payload above this
 * limit is refused before anything is allocated. */
#define SG_SOCKET_FRAME_HEADER 5
#define SG_SOCKET_MAX_PAYLOAD (64u * 1024u * 1024u)

/* Multicast datagrams are received up to this size. */
#define SG_SOCKET_DATAGRAM_MAX 2048

/* A listening TCP socket (address reuse, keep-alive, zero linger, backlog 10) bound to the
 * numeric address, or to every address when it is null or "all"; -1 on failure. */
int SGSocket_Server(const char* bindAddress, int port, int addressType);
/* The accepted connection, or -1. peer (may be null) receives the peer's address text; an
 * IPv4-mapped IPv6 peer is written in dotted form. The connection closes gracefully: the zero
 * linger of the listening socket is not kept, so a response's last bytes are delivered. */
int SGSocket_Accept(int listenSocket, char peer[SG_SOCKET_PEER_LENGTH]);
/* Connects to host and numeric port within the time-out (0: without one), preferring an IPv4
 * address; the receive time-out of the socket is set to the same value. -1 on failure. */
int SGSocket_ClientNB(const char* host, const char* port, int timeout);
/* SGSocket_ClientNB with 30 seconds. */
int SGSocket_Client(const char* host, const char* port);
/* Closes a descriptor greater than 0: close's result, -1 for any other descriptor. */
int SGSocket_Close(int socket);

/* One wait and one send or receive: the byte count (0 from Recv: the peer closed), or -1 on
 * error or time-out. Send writes "SGSocket_Send:%d\n" with the wait's result to standard output
 * when the socket does not become writable. */
int SGSocket_Send(int socket, const void* data, int length, int timeout);
int SGSocket_Recv(int socket, void* buffer, int size, int timeout);

/* Everything, in pieces of at most 2048 bytes with a wait before each: 0; 2101 for missing
 * bytes; -1 on failure or time-out. A length of 0 or less sends nothing. */
int SGSocket_SendAll(int socket, const void* data, int length, int timeout);
/* Exactly size bytes: 0; 2101 missing buffer; 2104 when the peer closes first; -1 on error or
 * time-out (each wait is bounded by the time-out). */
int SGSocket_RecvAll(int socket, void* buffer, int size, int timeout);

/* Sends one frame: 0, 2101 (missing or unframeable payload), 2102, -1. */
int SGSocket_SendBinary(int socket, int type, const SGBinary* payload, int timeout);
/* Receives one frame into a new buffer (an empty payload for a length of 1): 0; 2101 missing
 * argument; 2102 memory; 2104 the peer closed, also in the middle of the frame; -1 error,
 * time-out or an unacceptable length. On failure the payload record is left empty. */
int SGSocket_RecvBinary(int socket, char* type, SGBinary* payload, int timeout);

/* Reads one byte at a time up to a line feed (not stored), size - 1 bytes or the peer's close,
 * NUL-terminates, drops one trailing carriage return and returns the characters kept; -1 on
 * error, time-out or a missing buffer. */
int SGSocket_RecvLine(int socket, char* buffer, int size, int timeout);

/* One UDP datagram to a multicast group with the given time-to-live (IPv4) or hop limit
 * (IPv6): the bytes sent, or -1 with the last IPC error 2115, 2108 or 2116. */
int SGSocket_MultiSend(const char* group, int port, int hops, const void* data, int length,
                       int addressType);
/* A UDP socket bound to the group and port and joined to the group on the default interface,
 * or -1 with 2115, 2108, 2109 or 2114. */
int SGSocket_MultiReceiver(const char* group, int port, int addressType);
/* One datagram of at most 2048 bytes into a new buffer (*data, released with SGMemory_free) and
 * the sender's text (peer may be null): the length, or -1 with 2116. */
int SGSocket_MultiRecv(int socket, void** data, uint32_t* length, char peer[SG_SOCKET_PEER_LENGTH]);

SG_EXTERN_C_END

#endif
