#include "common/bytes.h"

#include <string.h>

#include <algorithm>
#include <cstring>

#include "common/text.h"

void SecureZero(void* p, size_t n) {
  if (p == nullptr || n == 0) return;
  ::explicit_bzero(p, n);
}

void WipeCapacity(std::vector<uint8_t>& v) {
  v.resize(v.capacity());
  SecureZero(v.data(), v.size());
  v.clear();
}

void ReserveWiping(std::vector<uint8_t>& v, size_t n) {
  if (n <= v.capacity()) return;
  std::vector<uint8_t> bigger;
  bigger.reserve(n);
  bigger.assign(v.begin(), v.end());
  WipeCapacity(v);
  v.swap(bigger);
}

namespace {

// Room for n more bytes, at least doubling so that a record is copied a few times only.
void Grow(std::vector<uint8_t>& v, size_t n) {
  if (v.size() + n > v.capacity()) ReserveWiping(v, std::max(v.size() + n, 2 * v.capacity()));
}

}  // namespace

void ByteWriter::U32(uint32_t v) {
  Grow(m_data, 4);
  for (int i = 0; i < 4; ++i) m_data.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void ByteWriter::Bytes(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  Grow(m_data, n);
  m_data.insert(m_data.end(), p, p + n);
}

void ByteWriter::CountedString(std::string_view utf8) {
  const std::u16string u = FromUtf8KeepingBytes(utf8);
  U32(static_cast<uint32_t>(u.size() + 1));
  Grow(m_data, 2 * u.size() + 2);
  for (char16_t c : u) {
    m_data.push_back(static_cast<uint8_t>(c & 0xFF));
    m_data.push_back(static_cast<uint8_t>(c >> 8));
  }
  m_data.push_back(0);
  m_data.push_back(0);
}

bool ByteReader::U32(uint32_t& v) {
  uint8_t b[4];
  if (!Bytes(b, 4)) return false;
  v = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
  return true;
}

bool ByteReader::I32(int32_t& v) {
  uint32_t u = 0;
  if (!U32(u)) return false;
  v = static_cast<int32_t>(u);
  return true;
}

bool ByteReader::Bytes(void* out, size_t n) {
  if (m_failed || n > m_size - m_pos) {
    m_failed = true;
    return false;
  }
  if (n) std::memcpy(out, m_data + m_pos, n);
  m_pos += n;
  return true;
}

bool ByteReader::CountedString(std::string& utf8, uint32_t maxUnits) {
  uint32_t count = 0;
  if (!U32(count)) return false;
  if (count == 0 || count > maxUnits || count > Remaining() / 2) {
    m_failed = true;
    return false;
  }
  std::u16string u(count, u'\0');
  for (uint32_t i = 0; i < count; ++i) {
    u[i] = static_cast<char16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
    m_pos += 2;
  }
  if (u.back() != u'\0') {
    m_failed = true;
    return false;
  }
  u.pop_back();
  // A zero unit inside the text ends it, as it would for the writer's C string.
  if (const size_t z = u.find(u'\0'); z != std::u16string::npos) u.resize(z);
  utf8 = ToUtf8KeepingBytes(u);
  return true;
}
