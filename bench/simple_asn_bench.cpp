// Streaming DER over a flat SEQUENCE of three-byte OCTET STRINGs (1 MiB: 349,525 elements),
// parsed from and written to buffer streams, beside OpenSSL's SEQUENCE OF ANY over the same
// bytes. Writing the parsed tree should stay within 2x of parsing it. The smoke run takes only
// the 64 KiB SEQUENCE.
#include <benchmark/benchmark.h>
#include <openssl/asn1.h>
#include <openssl/asn1t.h>

#include <map>
#include <vector>

#include "SGBinary.h"
#include "SGServiceTable.h"
#include "SGSimpleASN.h"
#include "SGStream.h"

namespace {

// The SEQUENCE whose content is just under kib KiB, made once per size.
const std::vector<unsigned char>& flatSequence(int64_t kib) {
    static std::map<int64_t, std::vector<unsigned char>> made;
    std::vector<unsigned char>& out = made[kib];
    if (out.empty()) {
        const size_t elements = static_cast<size_t>(kib) * 1024 / 3;
        const size_t content = elements * 3;
        // Above 255 bytes here: 0x80 | n and the n significant length octets.
        const int octets = content > 0xFFFF ? 3 : 2;
        out = {0x30, static_cast<unsigned char>(0x80 | octets)};
        for (int i = octets - 1; i >= 0; --i)
            out.push_back(static_cast<unsigned char>(content >> (8 * i)));
        out.reserve(out.size() + content);
        for (size_t i = 0; i < elements; ++i)
            out.insert(out.end(), {0x04, 0x01, static_cast<unsigned char>(i)});
    }
    return out;
}

bool ready() {
    static const bool tables = SGServiceWrapper_GetList(Service) == 0;
    return tables;
}

// A tree parsed from the sequence, with the source it reads from.
struct Parsed {
    SGBinary bytes;
    SGStream source{};
    SGSimpleASN root{};
    int result;
    explicit Parsed(const std::vector<unsigned char>& der)
        : bytes{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())} {
        SGStream_InitWithBinary(&source, &bytes);
        result = SGSimpleASN_Parse(&root, &source);
    }
    ~Parsed() {
        SGSimpleASN_Reset(&root);
        SGStream_Reset(&source);
    }
};

void BM_SimpleASN_Parse_Ours(benchmark::State& state) {
    if (!ready()) return state.SkipWithError("no tables");
    const auto& der = flatSequence(state.range(0));
    SGBinary bytes{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    {
        // Once untimed, so that the heap's first growth over the tree is not counted.
        Parsed warm(der);
        if (warm.result != 0) return state.SkipWithError("parse");
    }
    for (auto _ : state) {
        SGStream source{};
        SGSimpleASN root{};
        SGStream_InitWithBinary(&source, &bytes);
        if (SGSimpleASN_Parse(&root, &source) != 0) state.SkipWithError("parse");
        state.PauseTiming();
        SGSimpleASN_Reset(&root);
        SGStream_Reset(&source);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(der.size()));
}
BENCHMARK(BM_SimpleASN_Parse_Ours)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_SimpleASN_Encode_Ours(benchmark::State& state) {
    if (!ready()) return state.SkipWithError("no tables");
    const auto& der = flatSequence(state.range(0));
    Parsed tree(der);
    if (tree.result != 0) return state.SkipWithError("parse");
    const size_t size = der.size();
    for (auto _ : state) {
        state.PauseTiming();
        // Each encoding reads the value streams to their end.
        for (SGSimpleASN* c = tree.root.firstChild; c; c = c->next)
            SGStream_SetPosition(c->value, 0);
        state.ResumeTiming();
        SGBinary out{};
        SGStream sink{};
        SGStream_InitWithBinary(&sink, &out);
        if (SGSimpleASN_Encode(&sink, &tree.root, 0) != 0 || out.length != size)
            state.SkipWithError("encode");
        SGStream_Reset(&sink);
        SGBinary_Reset(&out);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}
BENCHMARK(BM_SimpleASN_Encode_Ours)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_SimpleASN_Parse_OpenSSL(benchmark::State& state) {
    const auto& der = flatSequence(state.range(0));
    for (auto _ : state) {
        const unsigned char* p = der.data();
        ASN1_SEQUENCE_ANY* seq = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size()));
        if (!seq) state.SkipWithError("parse");
        state.PauseTiming();
        sk_ASN1_TYPE_pop_free(seq, ASN1_TYPE_free);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(der.size()));
}
BENCHMARK(BM_SimpleASN_Parse_OpenSSL)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_SimpleASN_Encode_OpenSSL(benchmark::State& state) {
    const auto& der = flatSequence(state.range(0));
    const unsigned char* p = der.data();
    ASN1_SEQUENCE_ANY* seq = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size()));
    if (!seq) return state.SkipWithError("parse");
    for (auto _ : state) {
        unsigned char* out = nullptr;
        if (i2d_ASN1_SEQUENCE_ANY(seq, &out) != static_cast<int>(der.size()))
            state.SkipWithError("encode");
        OPENSSL_free(out);
    }
    sk_ASN1_TYPE_pop_free(seq, ASN1_TYPE_free);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(der.size()));
}
BENCHMARK(BM_SimpleASN_Encode_OpenSSL)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
