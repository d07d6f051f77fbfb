// Fuzz target of the secure channel's record opening: the input is opened as a record of each
// direction with the keys of the golden transcript (R = 00..0F, S = F0..FF, ARIA-128-CBC,
// SHA-256), expecting the sequence it names when that is one the golden records use, else 0.
// A record that opens must seal again, under the same sequence, to the same cipher and mac;
// a record that fails must leave the output untouched and the keys wiped. A normal test
// (FuzzSecureChannelTest) runs it over data/fuzz_secure_record; built with clang and
// BRINDLOW_FUZZ it is a libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "PXCipher.h"
#include "PaskKey.h"
#include "SGASN1C.h"
#include "SGBinary.h"
#include "SGCipher.h"
#include "SGServiceTable.h"

namespace {

const unsigned char kR[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                              0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
const unsigned char kS[16] = {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
                              0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};

// A context of the role with the golden keys, as the handshake leaves it.
void keyed(PaskKeyContext* c, int role) {
    PaskKey_Init(c, role, 4, 5);
    c->cipherId = 4;
    c->digestId = 5;
    c->mode = SG_CIPHER_MODE_CBC;
    if (SGCipher_GetInfo(&c->info, 4) != 0 || SGBinary_Set(&c->r, kR, 16) != 0 ||
        SGBinary_Set(&c->s, kS, 16) != 0 || PaskKey_KDF(c) != 0)
        abort();
    c->step = role == PASKKEY_ROLE_SERVER ? PASKKEY_SERVER_STEPS : PASKKEY_CLIENT_STEPS;
}

bool sameBits(const BIT_STRING_t& a, const BIT_STRING_t& b) {
    return a.size == b.size && a.bits_unused == b.bits_unused &&
           (a.size == 0 || std::memcmp(a.buf, b.buf, static_cast<size_t>(a.size)) == 0);
}

// The sequence the record names, when it is small; else 0.
uint64_t namedSequence(const SGBinary& in) {
    void* p = nullptr;
    uint64_t sequence = 0;
    if (SGASN1CObject_Decode(&p, &asn_DEF_PXCipher, &in) == 0) {
        long value = 0;
        if (SGASN1CInteger_Get(&value, &static_cast<PXCipher_t*>(p)->sequence) == 0 && value >= 0 &&
            value <= 200)
            sequence = static_cast<uint64_t>(value);
        SGASN1CObject_Free(p, &asn_DEF_PXCipher);
    }
    return sequence;
}

void openAs(int receiverRole, const SGBinary& in, uint64_t sequence) {
    PaskKeyContext receiver;
    keyed(&receiver, receiverRole);
    receiver.received = sequence;
    SGBinary plain{reinterpret_cast<unsigned char*>(0x1), 3};
    const int r = PaskKey_Decrypt(&receiver, &plain, &in);
    if (r != 0) {
        if (plain.data != reinterpret_cast<unsigned char*>(0x1) || plain.length != 3) abort();
        if (receiver.d0.data || receiver.d4.data || receiver.step != PASKKEY_STEP_FAILED) abort();
        PaskKeyContext_Final(&receiver);
        return;
    }
    if (receiver.received != sequence + 1) abort();
    if (plain.length > in.length || (plain.length > 0) != (plain.data != nullptr)) abort();

    // The peer seals the plaintext again: cipher and mac must be the input's.
    PaskKeyContext sender;
    keyed(&sender, 1 - receiverRole);
    sender.counter = sequence;
    SGBinary again{};
    if (PaskKey_Encrypt(&sender, &again, &plain) != 0) abort();
    void* a = nullptr;
    void* b = nullptr;
    if (SGASN1CObject_Decode(&a, &asn_DEF_PXCipher, &in) != 0 ||
        SGASN1CObject_Decode(&b, &asn_DEF_PXCipher, &again) != 0)
        abort();
    const auto* original = static_cast<PXCipher_t*>(a);
    const auto* resealed = static_cast<PXCipher_t*>(b);
    if (!sameBits(original->cipher, resealed->cipher) || !sameBits(original->mac, resealed->mac))
        abort();
    SGASN1CObject_Free(a, &asn_DEF_PXCipher);
    SGASN1CObject_Free(b, &asn_DEF_PXCipher);
    SGBinary_Reset(&again);
    SGBinary_Cleanse(&plain);
    PaskKeyContext_Final(&sender);
    PaskKeyContext_Final(&receiver);
}

}  // namespace

extern "C" int SGFuzzSecureRecord(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size > UINT32_MAX) return 0;
    const SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
    const uint64_t sequence = namedSequence(in);
    openAs(PASKKEY_ROLE_SERVER, in, sequence);
    openAs(PASKKEY_ROLE_CLIENT, in, sequence);
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzSecureRecord(data, size);
}
#endif
