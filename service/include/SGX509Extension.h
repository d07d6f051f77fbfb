/* The extensions of a decoded certificate: lookup by entry id, the text forms that the
 * application shows and the library matches ("cA=true", "virtualID(", "dp:", the policy text),
 * the DER of an extension's value, and the extensions of a generated certificate. */
#ifndef SG_X509_EXTENSION_H
#define SG_X509_EXTENSION_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* The ASN.1 structures (generated types). */
struct Extension;
struct Extensions;
struct DisplayText;
struct SGX509GenerateParameters;

/* Rendering results besides 0, 20902 (a value that does not decode), 20903 (an identifier
 * outside the OID table), 10004 (extension absent), 10010 (entry without text form) and 10009
 * (the text does not fit the buffer; it then holds what fitted). */
enum {
    SG_X509_EXT_ERR_DISPLAY_TEXT = -1111, /* DisplayText without a known alternative */
    SG_X509_EXT_ERR_QUALIFIER = -1222,    /* policy qualifier other than CPS or notice */
    SG_X509_EXT_ERR_DP_NAME = -2222222,   /* distribution-point name of no known form */
    SG_X509_EXT_ERR_ACCESS_METHOD = -11   /* access method other than caIssuers or OCSP */
};

/* Parts of the policy text (entry 16); 0 means all three. */
enum { SG_X509_POLICY_IDENTIFIERS = 1, SG_X509_POLICY_CPS = 2, SG_X509_POLICY_NOTICES = 4 };

/* The extension of an entry id (13 to 26) in stored order: 0 and *out set when found; else the
 * result of the last extension scanned (20903 identifier outside the OID table, 10004 one of the
 * fourteen entry extensions, 10010 any other); 10004 for an empty list. */
int SGX509Extension_FindRAWEntry(struct Extension** out, const struct Extensions* list,
                                 int entryId);

/* Empties the buffer and writes the text of the entry's extension; flags select the parts of
 * the policy text (entry 16). */
int SGX509Extension_GetEntry(char* buffer, unsigned int size, const struct Extensions* list,
                             int entryId, int flags);

/* A copy of the extension's value (the DER of its own structure) into an empty record. */
int SGX509Extension_GetEncodedEntry(SGBinary* out, const struct Extensions* list, int entryId);

/* The renderers: each decodes the extension's value and appends its text to the buffer. */
int SGX509Extension_AuthorityKeyIdentifier(char* buffer, unsigned int size,
                                           const struct Extension* extension);
int SGX509Extension_BasicConstraints(char* buffer, unsigned int size,
                                     const struct Extension* extension);
int SGX509Extension_SubjectKeyIdentifier(char* buffer, unsigned int size,
                                         const struct Extension* extension);
int SGX509Extension_CertificatePolicies(char* buffer, unsigned int size,
                                        const struct Extension* extension, int flags);
int SGX509Extension_SubjectAltName(char* buffer, unsigned int size,
                                   const struct Extension* extension);
int SGX509Extension_CRLDP(char* buffer, unsigned int size, const struct Extension* extension);
int SGX509Extension_AuthorityInfoAccess(char* buffer, unsigned int size,
                                        const struct Extension* extension);
int SGX509Extension_KeyUsage(char* buffer, unsigned int size, const struct Extension* extension);
/* Subject information access has no text form: 10010. */
int SGX509Extension_SubjectInfoAccess(void);

/* A DisplayText as UTF-8 (BMPString converted, the other forms copied) with its NUL into a
 * buffer of size bytes: 0; -1111 no known alternative; 20902 a BMPString of odd length; 10009
 * the text does not fit (empty text). */
int SGX509DiplayText_ToString(char* buffer, unsigned int size, const struct DisplayText* text);

/* UCS-2 big-endian to UTF-8 (surrogate pairs joined, U+FFFF dropped, a lone surrogate becomes
 * U+FFFD) into an empty record: 0; 20902 for an odd length; 10002 memory. */
int ucs2utf8(SGBinary* out, const SGBinary* ucs2);

/* Appends the extensions of a generated v3 certificate, none critical: basicConstraints
 * (always), keyUsage with digitalSignature (when asked), extKeyUsage serverAuth (when asked),
 * subjectAltName from the name list (when it has names). 0; 10010 a name kind other than 1, 2
 * or 7; the error of a step that fails. */
int SGX509Extension_Generate(struct Extensions* list,
                             const struct SGX509GenerateParameters* parameters);

SG_EXTERN_C_END

#endif
