#pragma once
// The compression functions of the digest families and the block handling they share,
// internal to the engine. Each compress function takes the chaining state and one full
// block (64 bytes; 128 for SHA-512) and updates the state in place.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vg::hash {

// MD5 (RFC 1321).
void Md5Compress(uint32_t h[4], const uint8_t* block);
// SHA-1 (FIPS 180-2): on message words already loaded, and on a big-endian block.
void Sha1CompressWords(uint32_t h[5], const uint32_t m[16]);
// The same without the processor's SHA instructions (what Sha1CompressWords falls back to).
void Sha1CompressWordsPortable(uint32_t h[5], const uint32_t m[16]);
void Sha1CompressBe(uint32_t h[5], const uint8_t* block);
// SHA-256 and SHA-224 (FIPS 180-2).
void Sha256Compress(uint32_t h[8], const uint8_t* block);
// SHA-512 and SHA-384 (FIPS 180-2).
void Sha512Compress(uint64_t h[8], const uint8_t* block);

// Feeds bytes into a block buffer of BlockSize bytes, calling compress for every full
// block. Shared by every digest.
template <size_t BlockSize, typename Compress>
void Absorb(uint8_t* block, size_t& used, const uint8_t* p, size_t n, Compress compress) {
  if (used > 0) {
    const size_t take = std::min(n, BlockSize - used);
    std::memcpy(block + used, p, take);
    used += take;
    p += take;
    n -= take;
    if (used < BlockSize) return;
    compress(block);
    used = 0;
  }
  while (n >= BlockSize) {
    compress(p);
    p += BlockSize;
    n -= BlockSize;
  }
  if (n > 0) {
    std::memcpy(block, p, n);
    used = n;
  }
}

// Appends the 0x80 byte, zeros and the length field (lengthBytes wide, bit count at its
// end) and compresses the last one or two blocks.
template <size_t BlockSize, typename Compress, typename StoreLength>
void Pad(uint8_t* block, size_t used, size_t lengthBytes, Compress compress,
         StoreLength storeLength) {
  block[used++] = 0x80;
  if (used > BlockSize - lengthBytes) {
    std::memset(block + used, 0, BlockSize - used);
    compress(block);
    used = 0;
  }
  std::memset(block + used, 0, BlockSize - used);
  storeLength(block + BlockSize - lengthBytes);
  compress(block);
}

}  // namespace vg::hash
