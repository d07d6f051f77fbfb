/* Distinguished names as text: the attribute table, rendering a Name into the system's text
 * form and parsing such a text into a Name. */
#ifndef SG_X520_NAME_H
#define SG_X520_NAME_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

/* The ASN.1 structures (generated types). */
struct Name;
struct DirectoryString;
struct OCTET_STRING;

/* Rendering results besides 0 and the ASN.1 layer's codes (20902 a value does not decode, 20903
 * an attribute type outside the OID table) and 10002 (memory). */
enum {
    SG_X520_ERR_UNKNOWN_ATTRIBUTE = -1, /* attribute not in the table, or not an rdnSequence */
    SG_X520_ERR_TOO_LONG = -22222       /* the text does not fit the caller's buffer */
};

/* How an attribute's value is handled. */
enum {
    SG_X520_DIRECTORY_STRING = 1, /* any DirectoryString; parsed into UTF8String */
    SG_X520_PRINTABLE_STRING = 2, /* rendered as a DirectoryString; parsed into PrintableString */
    SG_X520_NO_VALUE = 3,         /* not rendered; parsed with an empty value */
    SG_X520_IA5_STRING = 4
};

enum { SG_X520_TABLE_SIZE = 50 };

typedef struct SGX520NameEntry {
    int oidId;
    char name[12];
    int valueType;
} SGX520NameEntry;

/* Fills the attribute table once (every user calls it first); returns the entry count. */
int SGX520Name_Init(void);

/* Finds the entry with the OID id, or with id 0 the entry whose name equals the text exactly,
 * and copies it out with its name in lower case (flag non-zero) or upper case (flag 0): 0, or
 * -1 when no entry matches. */
int SGX520Name_Search(SGX520NameEntry* out, int oidId, const char* name, int lowerCase);

/* The Name as text: RDNs from the last to the first, values of one RDN joined by "+", each
 * value as NAME=value with "#+,;<=>" escaped by a backslash; RDNs separated by ", " (separator
 * flag 0) or "," (flag 1); attribute names upper case (case flag 0) or lower case (flag 1).
 * 0; 10001 missing argument; -1 not an rdnSequence or an attribute outside the table; 20903
 * an attribute type outside the OID table; 20902 a value that does not decode; -22222 the text
 * does not fit (the buffer then holds the complete values rendered before). */
int SGX520Name_ToString(char* buffer, int size, const struct Name* name, int lowerCase,
                        int compactSeparator);

/* A DirectoryString or an IA5String value as UTF-8 text with its terminating NUL: -22222 when
 * the buffer is too small (empty text), 20902 for a value that is no text. */
int SGX520DirectoryString_ToString(char* buffer, unsigned int size,
                                   const struct DirectoryString* value);
int SGX520IA5String_ToString(char* buffer, unsigned int size, const struct OCTET_STRING* value);

/* Appends one RDN per comma-separated "NAME=value" piece of the text, in text order, to the
 * Name (which becomes an rdnSequence): 0; 10001 missing argument; -1 a piece whose name is not
 * in the table (case ignored) or that has no "="; 10002 memory. */
int SGX520Name_FromString(struct Name* out, const char* text);

SG_EXTERN_C_END

#endif
