// A stand-in validated crypto module: its list function fills the 45-slot table, its version
// text and missing slots are set by the test, and it counts the calls each slot receives.
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

constexpr int kSlots = 45;
const char* gVersion = "QUENDRIL 1.0";
int gNullSlot = 0;
int gListResult = 0;
int gCalls[kSlots];

template <int N>
int countCall() {
    ++gCalls[N];
    return 0;
}

const char* version() {
    ++gCalls[1];
    return gVersion;
}

// Slot 7: a one-shot digest that writes a recognisable output.
int digest(unsigned char* output, int id, const unsigned char*, uint32_t length) {
    ++gCalls[7];
    std::memset(output, 0xD0 + id, 4);
    return 0;
}

// Slot 23: random bytes of a recognisable value.
int random(unsigned char* buffer, int length) {
    ++gCalls[23];
    std::memset(buffer, 0xAB, static_cast<size_t>(length));
    return 0;
}

template <int... N>
void fill(void** table, std::integer_sequence<int, N...>) {
    ((table[N] = reinterpret_cast<void*>(&countCall<N>)), ...);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int TessalyWrapper_GetList(void** table) {
    if (gListResult) return gListResult;
    fill(table, std::make_integer_sequence<int, kSlots>());
    table[1] = reinterpret_cast<void*>(&version);
    table[7] = reinterpret_cast<void*>(&digest);
    table[23] = reinterpret_cast<void*>(&random);
    if (gNullSlot) table[gNullSlot] = nullptr;
    return 0;
}

__attribute__((visibility("default"))) void testModuleConfigure(const char* version, int nullSlot,
                                                                int listResult) {
    gVersion = version;
    gNullSlot = nullSlot;
    gListResult = listResult;
    std::memset(gCalls, 0, sizeof gCalls);
}

__attribute__((visibility("default"))) int testModuleCalls(int slot) {
    return gCalls[slot];
}
}
