// Fuzz target of the streaming DER reader: SGSimpleASN_Parse over the input; whatever parses
// must write out again, as DER (never longer than the input), and that output must parse and
// write out to the same bytes with the same root length. A normal test (FuzzSimpleASNTest) runs
// it over data/fuzz_simple_asn; built with clang and BRINDLOW_FUZZ it is a libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "SGBinary.h"
#include "SGServiceTable.h"
#include "SGSimpleASN.h"
#include "SGStream.h"

namespace {

constexpr int kUnparsed = -1;

// Parses bytes and writes the tree out: kUnparsed, or the encoding's result.
int roundTrip(SGBinary* out, const uint8_t* data, size_t size, uint64_t* rootLength) {
    SGBinary in{};
    SGBinary_Set(&in, data, static_cast<uint32_t>(size));
    SGStream source{}, sink{};
    SGStream_InitWithBinary(&source, &in);
    SGStream_InitWithBinary(&sink, out);
    SGSimpleASN root{};
    int r = SGSimpleASN_Parse(&root, &source) == 0 ? 0 : kUnparsed;
    if (r == 0) r = SGSimpleASN_Encode(&sink, &root, 7);
    if (r == 0) *rootLength = root.length;  // as written
    SGSimpleASN_Reset(&root);
    SGStream_Reset(&source);
    SGStream_Reset(&sink);
    SGBinary_Reset(&in);
    return r;
}

}  // namespace

extern "C" int SGFuzzSimpleASN(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size > UINT32_MAX) return 0;
    SGBinary first{}, second{};
    uint64_t length = 0, again = 0;
    const int r = roundTrip(&first, data, size, &length);
    if (r != 0 && r != kUnparsed) abort();
    if (r == 0) {
        if (first.length > size || first.length < length) abort();
        if (roundTrip(&second, first.data, first.length, &again) != 0 || again != length ||
            second.length != first.length || std::memcmp(first.data, second.data, first.length))
            abort();
    }
    SGBinary_Reset(&first);
    SGBinary_Reset(&second);
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzSimpleASN(data, size);
}
#endif
