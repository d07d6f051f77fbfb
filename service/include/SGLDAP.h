/* SGLDAP: CA certificates, revocation lists and single attribute values read from the LDAP v3
 * directories of the certification authorities. Every read opens its own connection, binds,
 * searches once and closes; nothing is cached. Service slots 78 to 83. */
#ifndef SG_LDAP_H
#define SG_LDAP_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Marker of an initialised context. */
#define SG_LDAP_CONTEXT_MARKER 0xE77E

/* A connection: caller-owned (or local to a read). A context whose marker is not
 * SG_LDAP_CONTEXT_MARKER is zeroed and marked by every connecting operation. */
typedef struct SGLDAPContext {
    int marker;
    char* url;    /* the URL it was connected with (owned copy), null when not connected */
    void* handle; /* the directory client's connection, null when not connected */
} SGLDAPContext;

/* Result codes besides 0, 10001 (missing or refused argument, also an URL that is not
 * "ldap://host[:port]/..." within the buffers) and the client library's own codes. */
enum {
    SG_LDAP_ERR_BIND = 10025,              /* bind refused, or no answer within the time-out */
    SG_LDAP_ERR_NO_OBJECT = 10420,         /* base DN not found, or no entry matched */
    SG_LDAP_ERR_NO_DN = 10421,             /* an entry without DN */
    SG_LDAP_ERR_NO_ATTRIBUTE = 10422,      /* the entry has not the attribute */
    SG_LDAP_ERR_NO_ATTRIBUTE_NAME = 10423, /* no attribute named by the URL or the caller */
    SG_LDAP_ERR_MARKED = -234234           /* SGLDAPContext_Init on a marked context */
};

/* Limits of an URL's parts, terminating NUL included: the scheme with the host and port, the
 * base DN and the attribute name. */
enum { SG_LDAP_HOST_MAX = 128, SG_LDAP_BASE_DN_MAX = 512, SG_LDAP_ATTRIBUTE_MAX = 128 };

/* The time-out in seconds of every later read (connect, bind and search), 10 at start; values
 * below 1 are refused (10001) and leave it as it was. */
int SGLDAP_SetTimeout(int seconds);

/* Zeroes and marks the context: 0; 10001 for null; -234234 when already marked. */
int SGLDAPContext_Init(SGLDAPContext* context);
/* Connects to "ldap://<host>:<port>" with the time-out in seconds; see SGLDAP_ConnectByURL. */
int SGLDAP_Connect(SGLDAPContext* context, const char* host, int port, int seconds);
/* Connects and binds as "c=KR" with an empty password, anonymously when the server answers 53.
 * A connection the context held is closed first. 10025 when the bind fails or times out; the
 * client library's code when the URL is not accepted. */
int SGLDAP_ConnectByURL(SGLDAPContext* context, const char* url, int seconds);
/* Closes the connection without an unbind request and frees the saved URL: the client
 * library's result (0 when nothing was connected). */
int SGLDAP_Disconnect(SGLDAPContext* context);

/* One search below the base DN on a connected context for one attribute (filter null:
 * "(objectClass=*)"); the first value of the first entry that has one goes to out (an empty
 * record, caller frees). 10420 no such object or no entry, 10421, 10422 as above. */
int SGLDAP_ReadOneRecord(SGLDAPContext* context, SGBinary* out, const char* baseDN,
                         const char* attribute, const char* filter);

/* The first value of the URL's attribute ("ldap://host:port/base DN[?attribute]"):
 * "certificateRevocationList;binary" or "cACertificate;binary" when the URL names none. An
 * attribute asked with ";binary" that the entry lacks is asked again without it. */
int SGLDAP_ReadCRL(SGBinary* out, const char* url);
int SGLDAP_ReadCACertificate(SGBinary* out, const char* url);
/* The first value of the URL's attribute, or of the argument when the URL names none (10423
 * before connecting when neither does); no retry. */
int SGLDAP_ReadEntry(SGBinary* out, const char* url, const char* attribute, const char* filter);

SG_EXTERN_C_END

#endif
