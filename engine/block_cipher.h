#pragma once
// Rijndael with 16-, 24- or 32-byte keys and blocks; with a 16-byte block it is AES
// (FIPS 197). Misuse throws std::runtime_error with one of five fixed messages: "Empty
// key", "Incorrect key length", "Incorrect block length", "Object not Initialized",
// "Data not multiple of Block Size". The encrypted stream never misuses it.
// AES-256 with a 16-byte block uses the processor's AES instructions when it has them.
#include <cstddef>
#include <cstdint>

enum ChainMode : int32_t { CHAIN_ECB = 0, CHAIN_CBC = 1, CHAIN_CFB = 2 };

class CBlockCipher {
 public:
  CBlockCipher();
  virtual ~CBlockCipher();
  CBlockCipher(const CBlockCipher&) = delete;
  CBlockCipher& operator=(const CBlockCipher&) = delete;

  // Validates, stores the lengths, copies blockLength bytes of chain (the IV), expands the
  // key. A later call re-keys and resets the chain block.
  void MakeKey(const uint8_t* key, const uint8_t* chain, int keyLength = 16, int blockLength = 16);
  void EncryptBlock(const uint8_t* in, uint8_t* out);
  void DecryptBlock(const uint8_t* in, uint8_t* out);
  // n bytes, a whole number of blocks (n > 0). The chain block carries over between
  // calls, so consecutive buffers form one chain. in and out may not overlap.
  void Encrypt(const uint8_t* in, uint8_t* out, size_t n, int mode = CHAIN_ECB);
  void Decrypt(const uint8_t* in, uint8_t* out, size_t n, int mode = CHAIN_ECB);

  // Forces the table-driven path even where AES instructions exist (tests, benchmarks).
  static void SetHardwareAllowed(bool allowed);
  static bool HardwareAvailable();

 private:
  struct State;
  State* m_state;  // round keys, lengths, chain block; zeroed on destruction
};
