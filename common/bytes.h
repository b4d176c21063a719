#pragma once
// Little-endian fields and counted UTF-16LE strings of the program's own files: every
// integer is 4 bytes little-endian; a text is a 4-byte count n = length + 1 followed by
// 2n bytes of UTF-16LE ending in a zero unit. Names that are not valid UTF-8 keep their
// bytes (FromUtf8KeepingBytes).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Overwrites memory so that the compiler cannot drop the store.
void SecureZero(void* p, size_t n);
// Zeroes every byte v has storage for (its capacity, not only its size) and leaves it
// empty, its storage kept.
void WipeCapacity(std::vector<uint8_t>& v);
// Gives v room for at least n bytes, keeping its content; storage that must move is
// wiped before it is freed, so a growing buffer leaves no copy of a secret behind.
void ReserveWiping(std::vector<uint8_t>& v, size_t n);

// Builds a record in memory. Records hold keys, so the buffer grows without leaving
// copies behind and is wiped when the writer goes, unless Data() was moved out.
class ByteWriter {
 public:
  ByteWriter() = default;
  ByteWriter(const ByteWriter&) = delete;
  ByteWriter& operator=(const ByteWriter&) = delete;
  ~ByteWriter() { WipeCapacity(m_data); }

  void U32(uint32_t v);
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Bytes(const void* data, size_t n);
  void CountedString(std::string_view utf8);
  const std::vector<uint8_t>& Data() const { return m_data; }
  std::vector<uint8_t>& Data() { return m_data; }

 private:
  std::vector<uint8_t> m_data;
};

// Reads fields from a buffer it does not own. Every read is bounded by the bytes that
// remain; after the first failure every further read fails too, so a parser can read a
// whole record and test Ok() once.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  explicit ByteReader(const std::vector<uint8_t>& v) : ByteReader(v.data(), v.size()) {}
  bool U32(uint32_t& v);
  bool I32(int32_t& v);
  bool Bytes(void* out, size_t n);
  // Refuses a count of 0, a count above maxUnits, a count the remaining bytes cannot
  // hold, and a text that does not end in its zero unit.
  bool CountedString(std::string& utf8, uint32_t maxUnits = 1u << 20);
  size_t Remaining() const { return m_failed ? 0 : m_size - m_pos; }
  bool Ok() const { return !m_failed; }
  void Fail() { m_failed = true; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
  bool m_failed = false;
};
