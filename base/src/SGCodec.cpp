#include "SGCodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "SGBaseInternal.h"
#include "SGCodecTables.h"
#include "SGMemory.h"

namespace {

// Internal numbers of the code sets.
enum CodeSet {
    kUnknown = 0,
    kEucKr = 1,
    kUtf8 = 2,
    kUtf8Mac = 3,
    kUtf16Le = 4,
    kUtf16Be = 5,
    kUtf32Le = 6,
    kUtf32Be = 7,
    kCp949 = 8,
};

struct KnownCodeSet {
    const char* name;
    CodeSet number;
};

// In matching order: the first name that the given one is a case-insensitive prefix of wins.
constexpr KnownCodeSet kCodeSets[] = {
    {"ko_KR.CP949", kCp949},       {"ko_KR.euc-kr", kEucKr},      {"ko_KR.UTF-8", kUtf8},
    {"ko_KR.UTF-8-MAC", kUtf8Mac}, {"ko_KR.UTF-16-LE", kUtf16Le}, {"ko_KR.UTF-16-BE", kUtf16Be},
    {"ko_KR.UTF-32-LE", kUtf32Le}, {"ko_KR.UTF-32-BE", kUtf32Be},
};

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

CodeSet lookupCodeSet(const char* name) {
    const size_t n = std::strlen(name);
    for (const auto& known : kCodeSets) {
        if (n > std::strlen(known.name)) continue;
        size_t i = 0;
        while (i < n && asciiLower(name[i]) == asciiLower(known.name[i])) ++i;
        if (i == n) return known.number;
    }
    return kUnknown;
}

size_t unitSize(CodeSet cs) {
    switch (cs) {
        case kUtf16Le:
        case kUtf16Be:
            return 2;
        case kUtf32Le:
        case kUtf32Be:
            return 4;
        default:
            return 1;
    }
}

// Length in bytes up to the first zero unit of the source's width.
size_t measure(const unsigned char* in, size_t unit) {
    size_t n = 0;
    for (;;) {
        size_t k = 0;
        while (k < unit && in[n + k] == 0) ++k;
        if (k == unit) return n;
        n += unit;
    }
}

constexpr int kOk = 0;
constexpr int kEnd = 1;  // no character left (only byte-order marks)
constexpr int kIllegal = SG_CODEC_ERR_ILLEGAL;
constexpr int kIncomplete = SG_CODEC_ERR_INCOMPLETE;

bool isSurrogate(uint32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// ---- Output buffer -------------------------------------------------------------------------

class Output {
  public:
    ~Output() { SGMemory_free(data_); }
    bool init(size_t capacity) {
        if (capacity > UINT32_MAX) return false;
        data_ = static_cast<unsigned char*>(SGMemory_calloc(capacity, 1));
        capacity_ = capacity;
        return data_ != nullptr;
    }
    // Room for extra more bytes and the two zero bytes that end a 16-bit text.
    bool reserve(size_t extra) {
        if (length_ + extra + 2 <= capacity_) return true;
        size_t wanted = capacity_ * 2;
        if (wanted < length_ + extra + 2) wanted = length_ + extra + 2;
        if (wanted > UINT32_MAX) return false;
        void* grown = SGMemory_realloc(data_, wanted);
        if (!grown) return false;
        data_ = static_cast<unsigned char*>(grown);
        capacity_ = wanted;
        return true;
    }
    void put(unsigned char b) { data_[length_++] = b; }
    // Zero-fills everything after the output and hands the buffer over.
    char* release() {
        std::memset(data_ + length_, 0, capacity_ - length_);
        auto* out = reinterpret_cast<char*>(data_);
        data_ = nullptr;
        return out;
    }

  private:
    unsigned char* data_ = nullptr;
    size_t capacity_ = 0;
    size_t length_ = 0;
};

// ---- Korean double-byte code sets through iconv, one character at a time --------------------

bool isAsciiLetter(unsigned b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

bool validPair(CodeSet cs, unsigned lead, unsigned trail) {
    if (cs == kEucKr) return lead >= 0xA1 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xFE;
    if (lead < 0x81 || lead > 0xFE) return false;
    if (lead <= 0xC6) return isAsciiLetter(trail) || (trail >= 0x81 && trail <= 0xFE);
    return trail >= 0xA1 && trail <= 0xFE;
}

bool validLead(CodeSet cs, unsigned lead) {
    return cs == kEucKr ? lead >= 0xA1 && lead <= 0xFE : lead >= 0x81 && lead <= 0xFE;
}

// CP949's user-defined rows, mapped to the private-use area.
constexpr uint32_t kUserDefinedFirst = 0xE000;
constexpr uint32_t kUserDefinedLast = 0xE0BB;
constexpr unsigned kRowLength = 94;
// KS X 1001:2002 added U+327E at A2E8; CP949 predates it.
constexpr uint32_t kCp949Missing = 0x327E;

class Korean {
  public:
    explicit Korean(CodeSet cs) : cs_(cs) {}
    Korean(const Korean&) = delete;
    Korean& operator=(const Korean&) = delete;
    ~Korean() {
        if (toUcs_ != kClosed) iconv_close(toUcs_);
        if (fromUcs_ != kClosed) iconv_close(fromUcs_);
    }

    // 0 when the descriptors are open, otherwise 9002 or 9003.
    int open(bool encoding) {
        const char* name = cs_ == kEucKr ? "EUC-KR" : "CP949";
        if (toUcs_ == kClosed && (toUcs_ = iconv_open("UCS-4LE", name)) == kClosed)
            return errno == ENOMEM ? SG_CODEC_ERR_MEMORY : SG_CODEC_ERR_CODESET;
        if (encoding && fromUcs_ == kClosed && (fromUcs_ = iconv_open(name, "UCS-4LE")) == kClosed)
            return errno == ENOMEM ? SG_CODEC_ERR_MEMORY : SG_CODEC_ERR_CODESET;
        return 0;
    }

    int decode(const unsigned char* in, size_t n, size_t& pos, uint32_t& cp) {
        const unsigned lead = in[pos];
        if (lead < 0x80) {
            cp = lead;
            ++pos;
            return kOk;
        }
        if (!validLead(cs_, lead)) return kIllegal;
        if (pos + 1 >= n) return kIncomplete;
        const unsigned trail = in[pos + 1];
        if (!validPair(cs_, lead, trail)) return kIllegal;
        if (cs_ == kCp949 && (lead == 0xC9 || lead == 0xFE) && trail >= 0xA1) {
            cp = kUserDefinedFirst + (lead == 0xFE ? kRowLength : 0) + (trail - 0xA1);
        } else if (cs_ == kCp949 && lead == 0xA2 && trail == 0xE8) {
            return kIllegal;
        } else if (!pairToUcs(lead, trail, cp)) {
            return kIllegal;
        }
        pos += 2;
        return kOk;
    }

    int encode(uint32_t cp, Output& out) {
        if (!out.reserve(2)) return SG_CODEC_ERR_MEMORY;
        if (cp < 0x80) {
            out.put(static_cast<unsigned char>(cp));
            return kOk;
        }
        if (cs_ == kCp949 && cp >= kUserDefinedFirst && cp <= kUserDefinedLast) {
            const unsigned index = cp - kUserDefinedFirst;
            out.put(index < kRowLength ? 0xC9 : 0xFE);
            out.put(static_cast<unsigned char>(0xA1 + index % kRowLength));
            return kOk;
        }
        if (cs_ == kCp949 && cp == kCp949Missing) return kIllegal;
        if (cp > 0x10FFFF || isSurrogate(cp)) return kIllegal;

        unsigned char ucs[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                                static_cast<unsigned char>(cp >> 16), 0};
        unsigned char bytes[8];
        char* ip = reinterpret_cast<char*>(ucs);
        size_t il = sizeof ucs;
        char* op = reinterpret_cast<char*>(bytes);
        size_t ol = sizeof bytes;
        iconv(fromUcs_, nullptr, nullptr, nullptr, nullptr);
        // A non-zero count means an approximate (irreversible) mapping: not a table entry.
        if (iconv(fromUcs_, &ip, &il, &op, &ol) != 0 || il != 0 || sizeof bytes - ol != 2)
            return kIllegal;
        // Only codes that decode back to the same character belong to the table; this drops
        // the one-way fallbacks of the library (U+20A9 to the full-width won sign).
        uint32_t back = 0;
        if (!validPair(cs_, bytes[0], bytes[1]) || !pairToUcs(bytes[0], bytes[1], back) ||
            back != cp)
            return kIllegal;
        out.put(bytes[0]);
        out.put(bytes[1]);
        return kOk;
    }

  private:
    static inline const iconv_t kClosed = reinterpret_cast<iconv_t>(-1);

    bool pairToUcs(unsigned lead, unsigned trail, uint32_t& cp) {
        unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                 static_cast<unsigned char>(trail)};
        unsigned char ucs[8];
        char* ip = reinterpret_cast<char*>(pair);
        size_t il = sizeof pair;
        char* op = reinterpret_cast<char*>(ucs);
        size_t ol = sizeof ucs;
        iconv(toUcs_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(toUcs_, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 ||
            sizeof ucs - ol != 4)
            return false;
        cp = ucs[0] | (ucs[1] << 8) | (ucs[2] << 16) | (static_cast<uint32_t>(ucs[3]) << 24);
        return true;
    }

    CodeSet cs_;
    iconv_t toUcs_ = kClosed;
    iconv_t fromUcs_ = kClosed;
};

// ---- UTF-8 ---------------------------------------------------------------------------------

// Forms of one to maxLength bytes; overlong forms, surrogates and bad continuation bytes are
// illegal, a form cut short by the end of the input is incomplete.
int decodeUtf8(const unsigned char* in, size_t n, size_t& pos, uint32_t& cp, int maxLength) {
    const unsigned b0 = in[pos];
    if (b0 < 0x80) {
        cp = b0;
        ++pos;
        return kOk;
    }
    int length;
    if (b0 < 0xC2) return kIllegal;
    if (b0 <= 0xDF)
        length = 2;
    else if (b0 <= 0xEF)
        length = 3;
    else if (b0 <= 0xF7)
        length = 4;
    else if (b0 <= 0xFB)
        length = 5;
    else if (b0 <= 0xFD)
        length = 6;
    else
        return kIllegal;
    if (length > maxLength) return kIllegal;

    static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
    uint32_t value = b0 & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if (pos + k >= n) return kIncomplete;
        const unsigned b = in[pos + k];
        if ((b & 0xC0) != 0x80) return kIllegal;
        value = (value << 6) | (b & 0x3F);
        if (k == 1) {
            // The first two bytes already tell an overlong form or a surrogate.
            const int rest = 6 * (length - 2);
            if (value < (kMinimum[length] >> rest)) return kIllegal;
            if (length == 3 && value >= (0xD800 >> 6) && value <= (0xDFFF >> 6)) return kIllegal;
        }
    }
    cp = value;
    pos += length;
    return kOk;
}

void putUtf8(uint32_t cp, Output& out) {
    if (cp < 0x80) {
        out.put(static_cast<unsigned char>(cp));
    } else if (cp < 0x800) {
        out.put(static_cast<unsigned char>(0xC0 | (cp >> 6)));
        out.put(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    } else {
        out.put(static_cast<unsigned char>(0xE0 | (cp >> 12)));
        out.put(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
        out.put(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    }
}

int encodeUtf8(uint32_t cp, Output& out) {
    if (cp > 0xFFFF) return kIncomplete;
    if (isSurrogate(cp)) return kIllegal;
    if (!out.reserve(3)) return SG_CODEC_ERR_MEMORY;
    putUtf8(cp, out);
    return kOk;
}

// ---- UTF-16 --------------------------------------------------------------------------------

int decodeUtf16(const unsigned char* in, size_t n, size_t& pos, uint32_t& cp, bool bigEndian) {
    bool swapped = false;  // a U+FFFE unit flips the order of the one unit after it
    while (pos + 2 <= n) {
        const bool big = bigEndian != swapped;
        const uint32_t unit = big ? (in[pos] << 8) | in[pos + 1] : in[pos] | (in[pos + 1] << 8);
        pos += 2;
        swapped = false;
        if (unit == 0xFEFF) continue;
        if (unit == 0xFFFE) {
            swapped = true;
            continue;
        }
        if (isSurrogate(unit)) return kIllegal;
        cp = unit;
        return kOk;
    }
    return kEnd;
}

int encodeUtf16(uint32_t cp, Output& out, bool bigEndian) {
    if (cp == 0xFFFE || isSurrogate(cp) || cp > 0xFFFF) return kIllegal;
    if (!out.reserve(2)) return SG_CODEC_ERR_MEMORY;
    const auto high = static_cast<unsigned char>(cp >> 8);
    const auto low = static_cast<unsigned char>(cp);
    out.put(bigEndian ? high : low);
    out.put(bigEndian ? low : high);
    return kOk;
}

// ---- UTF-8-MAC: decomposed on output, precomposed on input ---------------------------------

constexpr uint32_t kSBase = 0xAC00, kLBase = 0x1100, kVBase = 0x1161, kTBase = 0x11A7;
constexpr uint32_t kLCount = 19, kVCount = 21, kTCount = 28, kNCount = kVCount * kTCount;
constexpr uint32_t kSCount = kLCount * kNCount;

bool marked(const uint8_t* bitmap, uint32_t c) {
    if (c > 0xFFFF) return false;
    const uint8_t k = bitmap[c >> 8];
    if (k == 0) return false;
    if (k == 255) return true;
    return (bitmap[256 + (k - 1) * 32 + ((c >> 3) & 31)] >> (c & 7)) & 1;
}

constexpr size_t kNotFound = SIZE_MAX;

// Binary search of rows first to first + count - 1, sorted by their first value.
template <typename Value, size_t N>
size_t findRow(const Value (&table)[N][2], size_t first, size_t count, uint32_t key) {
    size_t lo = first, hi = first + count;
    if (hi > N) return kNotFound;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (table[mid][0] < key)
            lo = mid + 1;
        else if (key < table[mid][0])
            hi = mid;
        else
            return mid;
    }
    return kNotFound;
}

// The composite of base and combining character, or 0.
uint32_t compose(uint32_t base, uint32_t mark) {
    if (base >= kLBase && base < kLBase + kLCount && mark >= kVBase && mark < kVBase + kVCount)
        return kSBase + ((base - kLBase) * kVCount + (mark - kVBase)) * kTCount;
    if (base >= kSBase && base < kSBase + kSCount && (base - kSBase) % kTCount == 0 &&
        mark > kTBase && mark < kTBase + kTCount)
        return base + (mark - kTBase);
    if (base > 0xFFFF) return 0;
    const size_t group =
        findRow(__CFUniCharPrecompSourceTable, 0, std::size(__CFUniCharPrecompSourceTable), mark);
    if (group == kNotFound) return 0;
    const uint32_t span = __CFUniCharPrecompSourceTable[group][1];
    const size_t pair =
        findRow(__CFUniCharBMPPrecompDestinationTable, span & 0xFFFF, span >> 16, base);
    return pair == kNotFound ? 0 : __CFUniCharBMPPrecompDestinationTable[pair][1];
}

int decodeUtf8Mac(const unsigned char* in, size_t n, size_t& pos, uint32_t& cp) {
    if (const int rc = decodeUtf8(in, n, pos, cp, 4); rc != kOk) return rc;
    while (pos < n) {
        size_t next = pos;
        uint32_t mark;
        if (decodeUtf8(in, n, next, mark, 4) != kOk) break;  // reported when decoded itself
        if (mark < 0x300 || !marked(__CFUniCharCombiningBitmap, mark)) break;
        const uint32_t composite = compose(cp, mark);
        if (!composite) break;
        cp = composite;
        pos = next;
    }
    return kOk;
}

constexpr size_t kMaxUnits = 32;

void decompose(uint16_t c, uint16_t* units, size_t& count) {
    const size_t row =
        findRow(__CFUniCharDecompositionTable, 0, std::size(__CFUniCharDecompositionTable), c);
    if (row == kNotFound) {
        if (count < kMaxUnits) units[count++] = c;
        return;
    }
    const uint16_t desc = __CFUniCharDecompositionTable[row][1];
    const size_t length = (desc >> 12) & 7;
    const uint16_t single = desc & 0x0FFF;
    const uint16_t* parts = length == 1 ? &single : &__CFUniCharMultipleDecompositionTable[single];
    if (desc & 0x8000) {
        decompose(parts[0], units, count);
    } else if (count < kMaxUnits) {
        units[count++] = parts[0];
    }
    for (size_t i = 1; i < length && count < kMaxUnits; ++i) units[count++] = parts[i];
}

int encodeUtf8Mac(uint32_t cp, Output& out) {
    if (cp == 0xFFFE || isSurrogate(cp) || cp > 0xFFFF) return kIllegal;
    if (cp < 0xC0 || !marked(__CFUniCharDecomposableBitmap, cp)) {
        if (!out.reserve(3)) return SG_CODEC_ERR_MEMORY;
        putUtf8(cp, out);
        return kOk;
    }
    uint16_t units[kMaxUnits];
    size_t count = 0;
    if (cp >= kSBase && cp < kSBase + kSCount) {
        const uint32_t s = cp - kSBase;
        units[count++] = static_cast<uint16_t>(kLBase + s / kNCount);
        units[count++] = static_cast<uint16_t>(kVBase + (s % kNCount) / kTCount);
        if (s % kTCount) units[count++] = static_cast<uint16_t>(kTBase + s % kTCount);
    } else {
        decompose(static_cast<uint16_t>(cp), units, count);
    }
    if (!out.reserve(3 * count)) return SG_CODEC_ERR_MEMORY;
    for (size_t i = 0; i < count; ++i) putUtf8(units[i], out);
    return kOk;
}

// ---- One conversion ------------------------------------------------------------------------

class Converter {
  public:
    Converter(CodeSet from, CodeSet to)
        : from_(from), to_(to), decoderKorean_(from), encoderKorean_(to) {}

    int open() {
        if (from_ == kEucKr || from_ == kCp949)
            if (const int rc = decoderKorean_.open(false)) return rc;
        if (to_ == kEucKr || to_ == kCp949)
            if (const int rc = encoderKorean_.open(true)) return rc;
        return 0;
    }

    int decode(const unsigned char* in, size_t n, size_t& pos, uint32_t& cp) {
        switch (from_) {
            case kEucKr:
            case kCp949:
                return decoderKorean_.decode(in, n, pos, cp);
            case kUtf8:
                return decodeUtf8(in, n, pos, cp, 6);
            case kUtf8Mac:
                return decodeUtf8Mac(in, n, pos, cp);
            case kUtf16Le:
                return decodeUtf16(in, n, pos, cp, false);
            case kUtf16Be:
                return decodeUtf16(in, n, pos, cp, true);
            default:
                return SG_CODEC_ERR_CODESET;  // UTF-32 is measured but not converted
        }
    }

    int encode(uint32_t cp, Output& out) {
        switch (to_) {
            case kEucKr:
            case kCp949:
                return encoderKorean_.encode(cp, out);
            case kUtf8:
                return encodeUtf8(cp, out);
            case kUtf8Mac:
                return encodeUtf8Mac(cp, out);
            case kUtf16Le:
                return encodeUtf16(cp, out, false);
            case kUtf16Be:
                return encodeUtf16(cp, out, true);
            default:
                return kIllegal;  // nothing is written as UTF-32
        }
    }

  private:
    CodeSet from_, to_;
    Korean decoderKorean_, encoderKorean_;
};

int convert(CodeSet from, CodeSet to, const unsigned char* in, char** output) {
    const size_t n = measure(in, unitSize(from));
    Output out;
    if (!out.init(2 * n + 2)) return SG_CODEC_ERR_MEMORY;
    if (n > 0) {
        Converter converter(from, to);
        if (const int rc = converter.open()) return rc;
        size_t pos = 0;
        while (pos < n) {
            uint32_t cp = 0;
            int rc = converter.decode(in, n, pos, cp);
            if (rc == kEnd) break;
            if (rc != kOk) return rc;
            rc = converter.encode(cp, out);
            if (rc != kOk) return rc;
        }
    }
    *output = out.release();
    return 0;
}

// ---- URL and escape codecs -----------------------------------------------------------------

bool isAsciiAlnum(unsigned char c) {
    return isAsciiLetter(c) || (c >= '0' && c <= '9');
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

template <typename Keep>
int percentEncode(const char* text, char** output, Keep keep) {
    if (!text || !output) return SG_CODEC_ERR_ARGUMENT;
    const size_t n = std::strlen(text);
    if (n > (UINT32_MAX - 1) / 3) return SG_CODEC_ERR_MEMORY;
    char* out = static_cast<char*>(SGMemory_malloc(3 * n + 1));
    if (!out) return SG_CODEC_ERR_MEMORY;
    static constexpr char kHex[] = "0123456789abcdef";
    char* w = out;
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (keep(c)) {
            *w++ = static_cast<char>(c);
        } else {
            *w++ = '%';
            *w++ = kHex[c >> 4];
            *w++ = kHex[c & 15];
        }
    }
    *w = '\0';
    *output = out;
    return 0;
}

int percentDecode(const char* text, char** output, bool plusIsSpace) {
    if (!text || !output) return SG_CODEC_ERR_ARGUMENT;
    const size_t n = std::strlen(text);
    char* out = static_cast<char*>(SGMemory_malloc(n + 1));
    if (!out) return SG_CODEC_ERR_MEMORY;
    char* w = out;
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // A "%" without two hex digits after it is kept as it stands.
        if (c == '%' && i + 2 < n && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            *w++ = static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            *w++ = ' ';
        } else {
            *w++ = static_cast<char>(c);
        }
    }
    *w = '\0';
    *output = out;
    return 0;
}

}  // namespace

extern "C" {

const char* SGCodecGetVersion(void) {
    return "2.0.0.0";
}

const char* SGCodecGetBuildInfo(void) {
    static char buffer[1024];
    return SGBase_FormatBuildInfo(buffer, SGCodecGetVersion());
}

int SGCodecConvertCodeSet(const char* fromCodeSet, const char* toCodeSet, const void* input,
                          char** output) {
    if (!fromCodeSet || !toCodeSet || !input || !output) return SG_CODEC_ERR_ARGUMENT;
    const CodeSet from = lookupCodeSet(fromCodeSet);
    const CodeSet to = lookupCodeSet(toCodeSet);
    if (from == kUnknown || to == kUnknown) return SG_CODEC_ERR_CODESET;
    if (from == to) return SG_CODEC_ERR_ARGUMENT;
    try {
        return convert(from, to, static_cast<const unsigned char*>(input), output);
    } catch (...) {
        return SG_CODEC_ERR_MEMORY;
    }
}

int SGCodecEncodeURL(const char* text, char** output) {
    return percentEncode(text, output, [](unsigned char c) {
        return isAsciiAlnum(c) || c == '-' || c == '.' || c == '/' || c == ':' || c == '_' ||
               c == '\\' || c == '@';
    });
}

int SGCodecDecodeURL(const char* text, char** output) {
    return percentDecode(text, output, true);
}

int SGCodecEscapeString(const char* text, char** output) {
    return percentEncode(text, output, [](unsigned char c) {
        return isAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
    });
}

int SGCodecUnescapeString(const char* text, char** output) {
    return percentDecode(text, output, false);
}

int SGCodecBinToString(const SGBinary* bin, char** output) {
    if (!bin || !output || (!bin->data && bin->length > 0)) return SG_CODEC_ERR_ARGUMENT;
    if (bin->length == UINT32_MAX) return SG_CODEC_ERR_MEMORY;
    char* out = static_cast<char*>(SGMemory_malloc(static_cast<size_t>(bin->length) + 1));
    if (!out) return SG_CODEC_ERR_MEMORY;
    if (bin->length) std::memcpy(out, bin->data, bin->length);
    out[bin->length] = '\0';
    *output = out;
    return 0;
}

int SGCodecStringToBin(const char* text, SGBinary* bin) {
    if (!text || !bin) return SG_CODEC_ERR_ARGUMENT;
    const size_t n = std::strlen(text);
    if (n >= UINT32_MAX) return SG_CODEC_ERR_MEMORY;
    auto* data = static_cast<unsigned char*>(SGMemory_malloc(n + 1));
    if (!data) return SG_CODEC_ERR_MEMORY;
    std::memcpy(data, text, n + 1);
    bin->data = data;
    bin->length = static_cast<uint32_t>(n);
    return 0;
}

}  // extern "C"
