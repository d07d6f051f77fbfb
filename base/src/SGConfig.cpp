#include "SGConfig.h"

#include <cjson/cJSON.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "SGBaseInternal.h"
#include "SGMemory.h"
#include "SGMemoryInternal.h"

namespace {

constexpr const char* kVersion = "2.0.0.0";
constexpr int32_t kMinCapacity = 128;
constexpr size_t kFieldMax = 4096;    // section, key and value of one line
constexpr int kFileLineChars = 4095;  // a longer file line continues as the next line
constexpr size_t kBufferLineChars = 4096;

using Dictionary = SGConfigDictionary;

uint32_t hashKey(std::string_view key) {
    uint32_t hash = 0;
    for (char c : key) {
        hash += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
        hash += hash << 10;
        hash ^= hash >> 6;
    }
    hash += hash << 3;
    hash ^= hash >> 11;
    hash += hash << 15;
    return hash;
}

// Lower-cased into the caller's own string: lookups run from several threads at once.
std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

char* copyText(const char* text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    char* copy = static_cast<char*>(SGMemory_malloc(n + 1));
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
}

Dictionary* newDictionary() {
    auto* d = static_cast<Dictionary*>(SGMemory_calloc(1, sizeof(Dictionary)));
    if (!d) return nullptr;
    d->capacity = kMinCapacity;
    d->values = static_cast<char**>(SGMemory_calloc(kMinCapacity, sizeof(char*)));
    d->keys = static_cast<char**>(SGMemory_calloc(kMinCapacity, sizeof(char*)));
    d->hashes = static_cast<uint32_t*>(SGMemory_calloc(kMinCapacity, sizeof(uint32_t)));
    if (!d->values || !d->keys || !d->hashes) {
        SGConfig_IniparserFree(d);
        return nullptr;
    }
    return d;
}

// Slot of a lower-case key, or -1.
int findSlot(const Dictionary* d, const std::string& key) {
    uint32_t hash = hashKey(key);
    for (int32_t i = 0; i < d->capacity; ++i) {
        // Whole keys are compared: a stored key that is only a prefix of the key is another key.
        if (d->keys[i] && d->hashes[i] == hash && key == d->keys[i]) return i;
    }
    return -1;
}

// Doubles the three arrays; the old ones stay in place unless all three new ones exist.
bool grow(Dictionary* d) {
    if (d->capacity > INT32_MAX / 2) return false;
    int32_t capacity = d->capacity * 2;
    auto* values = static_cast<char**>(SGMemory_calloc(capacity, sizeof(char*)));
    auto* keys = static_cast<char**>(SGMemory_calloc(capacity, sizeof(char*)));
    auto* hashes = static_cast<uint32_t*>(SGMemory_calloc(capacity, sizeof(uint32_t)));
    if (!values || !keys || !hashes) {
        SGMemory_free(values);
        SGMemory_free(keys);
        SGMemory_free(hashes);
        return false;
    }
    size_t n = static_cast<size_t>(d->capacity);
    std::memcpy(values, d->values, n * sizeof(char*));
    std::memcpy(keys, d->keys, n * sizeof(char*));
    std::memcpy(hashes, d->hashes, n * sizeof(uint32_t));
    SGMemory_free(d->values);
    SGMemory_free(d->keys);
    SGMemory_free(d->hashes);
    d->values = values;
    d->keys = keys;
    d->hashes = hashes;
    d->capacity = capacity;
    return true;
}

// Sets a lower-case key. False when memory runs out (the dictionary is then unchanged).
bool setEntry(Dictionary* d, const std::string& key, const char* value) {
    char* copy = nullptr;
    if (value && !(copy = copyText(value))) return false;
    if (int slot = findSlot(d, key); slot >= 0) {
        SGMemory_free(d->values[slot]);
        d->values[slot] = copy;
        return true;
    }
    char* keyCopy = copyText(key.c_str());
    if (!keyCopy || (d->count >= d->capacity && !grow(d))) {
        SGMemory_free(keyCopy);
        SGMemory_free(copy);
        return false;
    }
    for (int32_t i = 0; i < d->capacity; ++i) {
        if (d->keys[i]) continue;
        d->keys[i] = keyCopy;
        d->values[i] = copy;
        d->hashes[i] = hashKey(key);
        d->count++;
        return true;
    }
    // count below capacity guarantees a free slot
    SGMemory_free(keyCopy);
    SGMemory_free(copy);
    return false;
}

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

void trimTrailingBlanks(char* text) {
    size_t n = std::strlen(text);
    while (n > 0 && isBlank(text[n - 1])) text[--n] = '\0';
}

void trimTrailingQuotes(char* text) {
    size_t n = std::strlen(text);
    while (n > 0 && std::strchr("\t\n\r \"", text[n - 1])) text[--n] = '\0';
}

void lowerInPlace(char* text) {
    for (; *text; ++text)
        *text = static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
}

// One reader's state over the lines of a file or buffer.
class IniReader {
  public:
    IniReader(Dictionary* d, int mode) : d_(d), mode_(mode) {}

    // False when memory ran out.
    bool line(const char* text) {
        while (isBlank(*text)) ++text;
        if (*text == '\0' || *text == '#' || *text == ';') return true;
        if (std::sscanf(text, "[%4096[^]]", key_) == 1) {
            lowerInPlace(key_);
            trimTrailingQuotes(key_);
            std::memcpy(section_, key_, std::strlen(key_) + 1);
            return setEntry(d_, section_, nullptr);
        }
        if (!splitKeyValue(text)) return true;  // matches no form: skipped
        trimTrailingBlanks(key_);
        lowerInPlace(key_);
        if ((value_[0] == '"' && value_[1] == '"') || (value_[0] == '\'' && value_[1] == '\''))
            value_[0] = '\0';
        else
            trimTrailingBlanks(value_);
        trimTrailingQuotes(key_);
        trimTrailingQuotes(value_);
        std::string entry = section_;
        entry += '$';
        entry += key_;
        return setEntry(d_, entry, value_);
    }

  private:
    bool splitKeyValue(const char* text) {
        if (mode_ == SG_CONFIG_INI_PLAIN)
            return std::sscanf(text, "%4096[^=] = %4096[^=]", key_, value_) == 2;
        return std::sscanf(text, "%4096[^=] = \"%4096[^\"]\"", key_, value_) == 2 ||
               std::sscanf(text, "%4096[^=] = '%4096[^']'", key_, value_) == 2 ||
               std::sscanf(text, "%4096[^=] = %4096[^;#]", key_, value_) == 2;
    }

    Dictionary* d_;
    int mode_;
    char section_[kFieldMax + 1] = "";
    char key_[kFieldMax + 1] = "";
    char value_[kFieldMax + 1] = "";
};

Dictionary* readFile(const char* path, int mode) {
    if (!path) return nullptr;
    FILE* file = std::fopen(path, "re");
    if (!file) return nullptr;
    Dictionary* d = newDictionary();
    auto* reader = d ? new (std::nothrow) IniReader(d, mode) : nullptr;
    bool ok = reader != nullptr;
    char buffer[kFileLineChars + 1];
    while (ok && std::fgets(buffer, sizeof buffer, file)) ok = reader->line(buffer);
    if (std::ferror(file)) ok = false;  // a folder opens but cannot be read
    delete reader;
    std::fclose(file);
    if (!ok) {
        SGConfig_IniparserFree(d);
        return nullptr;
    }
    return d;
}

const char* valueOf(Dictionary* d, const char* key, bool* found) {
    *found = false;
    if (!d || !key) return nullptr;
    int slot = findSlot(d, lowered(key));
    if (slot < 0) return nullptr;
    *found = true;
    return d->values[slot];
}

// The string values of a cJSON tree are overwritten with these before they are freed.
constexpr int kJsonWipe[] = {0x3F, 0xF3, 0x6E, 0xE6, 0x00};

void wipeString(char* text) {
    size_t n = std::strlen(text);
    if (n == 0) return;
    for (int pattern : kJsonWipe) {
        gSGMemoryFill(text, pattern, n);
        asm volatile("" : : "r"(text) : "memory");
    }
}

}  // namespace

extern "C" {

const char* SGConfig_GetVersion(void) {
    return kVersion;
}

const char* SGConfig_GetBuildInfo(void) {
    thread_local char buffer[1024];
    return SGBase_FormatBuildInfo(buffer, kVersion);
}

SGConfigDictionary* SGConfig_IniparserNew(const char* path, int mode) {
    return readFile(path, mode);
}

SGConfigDictionary* SGConfig_IniparserNew_Unicode(const char* path, int mode) {
    return readFile(path, mode);
}

SGConfigDictionary* SGConfig_IniparserNew_from_Buffer(char* text, int mode) {
    if (!text) return nullptr;
    Dictionary* d = newDictionary();
    auto* reader = d ? new (std::nothrow) IniReader(d, mode) : nullptr;
    bool ok = reader != nullptr;
    std::string line;
    for (const char* p = text; ok && *p;) {
        const char* end = std::strchr(p, '\n');
        size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        line.assign(p, length < kBufferLineChars ? length : kBufferLineChars);
        ok = reader->line(line.c_str());
        p += length + (end ? 1 : 0);
    }
    delete reader;
    if (!ok) {
        SGConfig_IniparserFree(d);
        return nullptr;
    }
    return d;
}

void SGConfig_IniparserFree(SGConfigDictionary* d) {
    if (!d) return;
    for (int32_t i = 0; d->keys && d->values && i < d->capacity; ++i) {
        SGMemory_free(d->keys[i]);
        SGMemory_free(d->values[i]);
    }
    SGMemory_free(d->values);
    SGMemory_free(d->keys);
    SGMemory_free(d->hashes);
    SGMemory_free(d);
}

int SGConfig_IniparserGetNSec(SGConfigDictionary* d) {
    if (!d) return -1;
    int sections = 0;
    for (int32_t i = 0; i < d->capacity; ++i)
        if (d->keys[i] && !std::strchr(d->keys[i], '$')) ++sections;
    return sections;
}

char* SGConfig_IniparserGetSecName(SGConfigDictionary* d, int n) {
    if (!d || n < 0) return nullptr;
    for (int32_t i = 0; i < d->capacity; ++i) {
        if (!d->keys[i] || std::strchr(d->keys[i], '$')) continue;
        if (n-- == 0) return d->keys[i];
    }
    return nullptr;
}

char* SGConfig_IniparserGetString(SGConfigDictionary* d, const char* key, const char* def) {
    bool found;
    const char* value = valueOf(d, key, &found);
    return const_cast<char*>(found ? value : def);
}

int SGConfig_IniparserGetInt(SGConfigDictionary* d, const char* key, int def) {
    bool found;
    const char* value = valueOf(d, key, &found);
    if (!value) return def;
    long n = std::strtol(value, nullptr, 10);
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

double SGConfig_IniparserGetDouble(SGConfigDictionary* d, const char* key, double def) {
    bool found;
    const char* value = valueOf(d, key, &found);
    return value ? std::strtod(value, nullptr) : def;
}

int SGConfig_IniparserGetBoolean(SGConfigDictionary* d, const char* key, int def) {
    bool found;
    const char* value = valueOf(d, key, &found);
    if (!value || !*value) return def;
    if (std::strchr("1tTyY", value[0])) return 1;
    if (std::strchr("0fFnN", value[0])) return 0;
    return def;
}

int SGConfig_IniparserFindEntry(SGConfigDictionary* d, const char* key) {
    bool found;
    valueOf(d, key, &found);
    return found ? 1 : 0;
}

void SGConfig_IniparserUnset(SGConfigDictionary* d, const char* key) {
    if (!d || !key) return;
    int slot = findSlot(d, lowered(key));
    if (slot < 0) return;
    SGMemory_free(d->keys[slot]);
    SGMemory_free(d->values[slot]);
    d->keys[slot] = nullptr;
    d->values[slot] = nullptr;
    d->hashes[slot] = 0;
    d->count--;
}

int SGConfig_IniparserSetStr(SGConfigDictionary* d, const char* key, const char* value) {
    if (!d || !key) return -1;
    return setEntry(d, lowered(key), value) ? 0 : -1;
}

void SGConfig_IniparserDump(SGConfigDictionary* d, FILE* out) {
    if (!d || !out) return;
    for (int32_t i = 0; i < d->capacity; ++i) {
        if (!d->keys[i]) continue;
        if (d->values[i])
            std::fprintf(out, "[%s]=[%s]\n", d->keys[i], d->values[i]);
        else
            std::fprintf(out, "[%s]=UNDEF\n", d->keys[i]);
    }
}

void SGConfig_Iniparser_DumpIni(SGConfigDictionary* d, FILE* out) {
    if (!d || !out) return;
    // Keys outside any section are stored as "$key" and written back as "key", so that the text
    // reads back into the same entries.
    auto bare = [](const char* key) { return key[0] == '$' ? key + 1 : key; };
    auto text = [](const char* value) { return value ? value : ""; };
    int sections = SGConfig_IniparserGetNSec(d);
    if (sections < 1) {
        for (int32_t i = 0; i < d->capacity; ++i)
            if (d->keys[i]) std::fprintf(out, "%s = %s\n", bare(d->keys[i]), text(d->values[i]));
        return;
    }
    for (int32_t i = 0; i < d->capacity; ++i)
        if (d->keys[i] && d->keys[i][0] == '$')
            std::fprintf(out, "%-30s = %s\n", bare(d->keys[i]), text(d->values[i]));
    for (int s = 0; s < sections; ++s) {
        const char* name = SGConfig_IniparserGetSecName(d, s);
        size_t length = std::strlen(name);
        std::fprintf(out, "\n[%s]\n", name);
        for (int32_t i = 0; i < d->capacity; ++i) {
            const char* key = d->keys[i];
            if (key && std::strncmp(key, name, length) == 0 && key[length] == '$')
                std::fprintf(out, "%-30s = %s\n", key + length + 1, text(d->values[i]));
        }
    }
    std::fprintf(out, "\n");
}

cJSON* SGstorage_JsonNew(const char* path) {
    if (!path) return nullptr;
    FILE* file = std::fopen(path, "rbe");
    if (!file) return nullptr;
    size_t size = 0, capacity = 0;
    char* text = nullptr;
    bool ok = true;
    for (;;) {
        if (capacity - size < 4096 + 1) {
            size_t grown = capacity ? capacity * 2 : 8192;
            char* bigger = static_cast<char*>(SGMemory_malloc(grown));
            if (!bigger) {
                ok = false;
                break;
            }
            if (text) {
                std::memcpy(bigger, text, size);
                SGMemory_cleanse(text, capacity);
                SGMemory_free(text);
            }
            text = bigger;
            capacity = grown;
        }
        size_t n = std::fread(text + size, 1, capacity - size - 1, file);
        size += n;
        if (n == 0) {
            ok = !std::ferror(file);
            break;
        }
    }
    std::fclose(file);
    cJSON* tree = nullptr;
    if (ok) {
        text[size] = '\0';
        tree = cJSON_Parse(text);
    }
    if (text) {
        SGMemory_cleanse(text, capacity);
        SGMemory_free(text);
    }
    return tree;
}

cJSON* SGConfig_JsonGetObjectItem(cJSON* object, const char* name) {
    return cJSON_GetObjectItem(object, name);
}

void SGConfig_JsonDelete(cJSON* item) {
    // Iterative, so that a deep tree built in code cannot exhaust the stack: the children of
    // each item are spliced in front of the items still to release.
    cJSON* pending = item;
    while (pending) {
        cJSON* current = pending;
        pending = current->next;
        bool owned = !(current->type & cJSON_IsReference);
        if (owned && current->child) {
            cJSON* last = current->child;
            while (last->next) last = last->next;
            last->next = pending;
            pending = current->child;
        }
        if (owned && current->valuestring) {
            wipeString(current->valuestring);
            cJSON_free(current->valuestring);
        }
        if (!(current->type & cJSON_StringIsConst) && current->string) cJSON_free(current->string);
        cJSON_free(current);
    }
}

}  // extern "C"
