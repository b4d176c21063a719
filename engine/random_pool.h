#pragma once
// The random pool that draws initialisation vectors: a 260-byte pool refreshed from an
// entropy callback and mixed with SHA-1 compression steps.
#include <cstddef>
#include <cstdint>

// Fills up to wanted bytes of buf; returns how many it filled (at least 1).
using EntropyProc = size_t (*)(uint8_t* buf, size_t wanted);

// The default source: the kernel's generator (getrandom).
size_t KernelEntropy(uint8_t* buf, size_t wanted);

class CRandomPool {
 public:
  static constexpr size_t kPoolSize = 260;
  CRandomPool() = default;
  virtual ~CRandomPool();  // zeroes the whole context
  CRandomPool(const CRandomPool&) = delete;
  CRandomPool& operator=(const CRandomPool&) = delete;

  void Init(EntropyProc entropy = nullptr);
  void Generate(uint8_t* out, size_t n);

 private:
  void Refresh();
  static void Mix(uint8_t* pool);
  uint8_t m_random[kPoolSize] = {};
  uint8_t m_output[kPoolSize] = {};
  size_t m_position = 0;
  EntropyProc m_entropy = nullptr;
};

// A temporary pool on the default source, one Generate, then wiped.
void GenerateRandomBytes(uint8_t* out, size_t n);
