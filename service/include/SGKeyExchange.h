/* The key exchange of the secure channel as the filter (SGSecureFilter.h) drives it: a thin layer
 * over PaskKey.h through a holder, a pointer that owns the context. */
#ifndef SG_KEY_EXCHANGE_H
#define SG_KEY_EXCHANGE_H

#include "PaskKey.h"
#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Allocates the context into *holder (a context it held is finished first): role 1 a server,
 * any other role a client with ARIA-128 and SHA-256. The last two arguments are not read.
 * 0; 10001 null holder; 10002 memory. */
int SGKeyExchange_Init(PaskKeyContext** holder, int role, int unused1, int unused2);
/* 1 while a handshake step is pending, 0 when none is (also after a failure), 10001 for a null
 * holder or context. */
int SGKeyExchange_HasMoreOperation(PaskKeyContext** holder);
/* PaskKey_NextOperation, PaskKey_Encrypt and PaskKey_Decrypt on the held context; 10001 for a
 * null holder or context. */
int SGKeyExchange_NextOperation(PaskKeyContext** holder, SGBinaryList* outputs,
                                const PaskKeyInput* inputs);
int SGKeyExchange_Encrypt(PaskKeyContext** holder, SGBinary* record, const SGBinary* plaintext);
int SGKeyExchange_Decrypt(PaskKeyContext** holder, SGBinary* plaintext, const SGBinary* record);
/* Wipes and frees the context and clears the holder: 0, or 10001 for a null holder. */
int SGKeyExchange_Final(PaskKeyContext** holder);

SG_EXTERN_C_END

#endif
