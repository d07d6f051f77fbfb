// SHA-256 (FIPS 180-4), the installer's own: it fingerprints the root certificates it carries.
#pragma once

#include <cstddef>
#include <cstdint>

struct Sha256Context {
    uint32_t state[8];
    uint64_t count;  // bytes hashed so far
    unsigned char block[64];
};

void Sha256_Init(Sha256Context* ctx);
void Sha256_Update(Sha256Context* ctx, const unsigned char* data, size_t size);
// Writes the 32-byte digest and resets the context to its initial state.
void Sha256_Final(Sha256Context* ctx, unsigned char digest[32]);
// Compresses the full block held in ctx->block into the state.
void Sha256_WriteByteBlock(Sha256Context* ctx);
