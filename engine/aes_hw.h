#pragma once
// AES with the processor's AES instructions (16-byte block, 10, 12 or 14 rounds). The
// round keys are the FIPS 197 expanded key as bytes: encKeys in round order, decKeys
// those of the equivalent inverse cipher (reverse order, InvMixColumns on the inner
// rounds). Callers check Available() first. chain is the 16-byte CBC/CFB chain block,
// updated in place. in and out may be the same buffer but must not overlap otherwise.
// Internal to the engine.
#include <cstddef>
#include <cstdint>

namespace vg::aeshw {

bool Available();

void EncryptEcb(const uint8_t* encKeys, int rounds, const uint8_t* in, uint8_t* out, size_t blocks);
void DecryptEcb(const uint8_t* decKeys, int rounds, const uint8_t* in, uint8_t* out, size_t blocks);
void EncryptCbc(const uint8_t* encKeys, int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out,
                size_t blocks);
void DecryptCbc(const uint8_t* decKeys, int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out,
                size_t blocks);
void EncryptCfb(const uint8_t* encKeys, int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out,
                size_t blocks);
void DecryptCfb(const uint8_t* encKeys, int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out,
                size_t blocks);

}  // namespace vg::aeshw
