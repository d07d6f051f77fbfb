/* SGCRL: whether a certificate is revoked. The full check fetches the list named by the
 * certificate's LDAP distribution point on every call, makes sure it is its issuer's list (key
 * identifiers, issuer name, issuing distribution point and its scope), that it is current and
 * signed by the issuer, and looks the serial number up; a second operation looks a serial number
 * up in a list the caller already has. Service slots 84 and 85. */
#ifndef SG_CRL_H
#define SG_CRL_H

#include <time.h>

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGCertificateStorage.h"
#include "SGX509Certificate.h"

SG_EXTERN_C_BEGIN

/* The answer of a check (caller-owned). reason is SG_CRL_NOT_REVOKED when the certificate is not
 * on the list, otherwise the entry's CRLReason (RFC 5280 codes 0 to 10; 0 when the entry has no
 * reason); date is then the revocation date. */
typedef struct SGCRLStatus {
    time_t date;
    int reason;
} SGCRLStatus;

enum { SG_CRL_NOT_REVOKED = 999 };

/* Result codes besides 0, 10001 (missing argument), 10002 (memory), the LDAP reads' codes, the
 * decoding codes (20902) and the signature check's codes. */
enum {
    SG_CRL_ERR_NO_LIST = 10008,         /* the list does not cover this certificate (scope) */
    SG_CRL_ERR_CRITICAL = 10011,        /* the list carries a critical extension not handled */
    SG_CRL_ERR_NO_DP = 10402,           /* no LDAP distribution point */
    SG_CRL_ERR_ENTRY_EXTENSION = 10404, /* an entry extension other than reasonCode */
    SG_CRL_ERR_EMPTY = 10405,           /* a list without entries (given-list lookup) */
    SG_CRL_ERR_KEY_IDENTIFIER = 10407,  /* authority key identifiers differ */
    SG_CRL_ERR_ISSUER_COUNT = 10408,    /* authorityCertIssuer name counts differ */
    SG_CRL_ERR_ISSUER_NAMES = 10409,    /* authorityCertIssuer names differ */
    SG_CRL_ERR_ISSUER_SERIAL = 10410,   /* authorityCertSerialNumber differs */
    SG_CRL_ERR_ISSUER = 10411,          /* the list's issuer is not the certificate's */
    SG_CRL_ERR_KEY_USAGE = 10412,       /* a certificate of the issuer chain lacks cRLSign */
    SG_CRL_ERR_VALIDITY = 10413         /* the list is not current (or has no nextUpdate) */
};

/* The full check. A storage is required: the list is trusted only when it is signed by the
 * certificate's issuer as found in the storage, on a chain up to a trusted root (10001 without
 * one). 0 when the check could be made: status then tells revoked or not. */
int SGCRL_CheckCertificate(SGCRLStatus* status, const SGX509Certificate* certificate,
                           SGCertificateStorage* storage);

/* Looks the serial number (the INTEGER's content octets) up in a DER list: 0 with the status
 * (SG_CRL_NOT_REVOKED when absent); 10405 for a list without entries; 20902 when it does not
 * decode or when an entry's reasonCode is not one of RFC 5280's (0 to 10 but 7). Nothing but the
 * lookup is checked. */
int SGCRL_Check(SGCRLStatus* status, const SGBinary* crlDer, const SGBinary* serial);

/* Does nothing: 0. */
int SGCRL_Initialization(void);

SG_EXTERN_C_END

#endif
