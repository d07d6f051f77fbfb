/* PEM armour of a DER certificate or private key (Service slots 21 and 22). Only the encoding
 * direction exists. */
#ifndef SG_PEM_H
#define SG_PEM_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Types of SGPEM_Encode and their labels. */
enum {
    SG_PEM_CERTIFICATE = 1, /* "-----BEGIN CERTIFICATE-----" */
    SG_PEM_PRIVATE_KEY = 2  /* "-----BEGIN PRIVATEKEY-----", one word, as stored files have it */
};

/* Writes into out (whatever it held is released first) the header line, the Base64 of the DER in
 * lines of 64 characters, each line ended by "\r\n", and the footer without a line end.
 * 0; 10001 missing out or input (or a length without data); 10009 a type other than 1 and 2;
 * the Base64 encoder's codes; 10002 memory. On failure out is empty. */
int SGPEM_Encode(SGBinary* out, const SGBinary* der, int type);

/* Reserved entry point: writes nothing and returns 0. */
int SGPEM_Decode(void);

SG_EXTERN_C_END

#endif
