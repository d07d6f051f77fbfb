/* Configuration readers: INI files into a dictionary of section$key entries, and JSON files into
 * cJSON trees with a release that wipes every string value. */
#ifndef SG_CONFIG_H
#define SG_CONFIG_H

#include <stdio.h>

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

struct cJSON;

/* Entries of an INI dictionary. Keys are lower case: a section is stored under its name with a
 * null value, a key inside a section as "section$key", a key before any section as "$key". */
typedef struct SGConfigDictionary {
    int32_t count;    /* entries in use */
    int32_t capacity; /* slots, at least 128, doubled when full */
    char** values;    /* value strings; null for a section entry */
    char** keys;      /* key strings; null for a free slot */
    uint32_t* hashes; /* one-at-a-time hashes of the keys */
} SGConfigDictionary;

#define SG_CONFIG_INI_PLAIN 1 /* mode: plain key = value lines; any other mode: quoted forms */

const char* SGConfig_GetVersion(void);
const char* SGConfig_GetBuildInfo(void);

/* Reads an INI file; null when it cannot be opened or memory runs out. */
SGConfigDictionary* SGConfig_IniparserNew(const char* path, int mode);
SGConfigDictionary* SGConfig_IniparserNew_Unicode(const char* path, int mode);
/* Reads NUL-terminated INI text whose lines end at "\n". */
SGConfigDictionary* SGConfig_IniparserNew_from_Buffer(char* text, int mode);
void SGConfig_IniparserFree(SGConfigDictionary* dictionary);

/* Number of sections; -1 for a missing dictionary. */
int SGConfig_IniparserGetNSec(SGConfigDictionary* dictionary);
/* The n-th section's name (from 0, in slot order), owned by the dictionary; null when out of
 * range. */
char* SGConfig_IniparserGetSecName(SGConfigDictionary* dictionary, int n);
/* The value of the key (any case), owned by the dictionary; the default when absent. A section
 * name gives its null value. */
char* SGConfig_IniparserGetString(SGConfigDictionary* dictionary, const char* key, const char* def);
int SGConfig_IniparserGetInt(SGConfigDictionary* dictionary, const char* key, int def);
double SGConfig_IniparserGetDouble(SGConfigDictionary* dictionary, const char* key, double def);
/* 1 for a value beginning with 1, t, T, y or Y; 0 for 0, f, F, n or N; otherwise the default. */
int SGConfig_IniparserGetBoolean(SGConfigDictionary* dictionary, const char* key, int def);
/* 1 when the key exists, else 0. */
int SGConfig_IniparserFindEntry(SGConfigDictionary* dictionary, const char* key);
void SGConfig_IniparserUnset(SGConfigDictionary* dictionary, const char* key);
/* Sets the key to a copy of the value (or null). 0; -1 for a missing dictionary or key or when
 * memory runs out. */
int SGConfig_IniparserSetStr(SGConfigDictionary* dictionary, const char* key, const char* value);
/* Every entry as "[key]=[value]" lines. */
void SGConfig_IniparserDump(SGConfigDictionary* dictionary, FILE* out);
/* The dictionary as INI text. */
void SGConfig_Iniparser_DumpIni(SGConfigDictionary* dictionary, FILE* out);

/* Reads and parses a JSON file; null when it cannot be read or is not JSON. */
struct cJSON* SGstorage_JsonNew(const char* path);
/* The first member whose name equals the given one ignoring case, or null. */
struct cJSON* SGConfig_JsonGetObjectItem(struct cJSON* object, const char* name);
/* Releases the item, the items after it and all their children; every string value that the
 * tree owns is overwritten (0x3F, 0xF3, 0x6E, 0xE6, then zeros) before it is freed. */
void SGConfig_JsonDelete(struct cJSON* item);

SG_EXTERN_C_END

#endif
