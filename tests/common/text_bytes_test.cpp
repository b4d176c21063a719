#include <malloc.h>

#include <cstdlib>
#include <new>
#include <string_view>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/text.h"

namespace {

// While set, every block freed through operator delete is searched for these bytes: how
// a test sees a secret left behind in freed memory.
std::string_view g_lookFor;
int g_foundInFreed = 0;

void ScanFreed(const void* p, size_t n) {
  if (g_lookFor.empty() || p == nullptr) return;
  if (std::string_view(static_cast<const char*>(p), n).find(g_lookFor) != std::string_view::npos)
    ++g_foundInFreed;
}

}  // namespace

// This program's operator new and delete, on malloc, so that delete can look first.
void* operator new(size_t n) {
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  ScanFreed(p, p ? malloc_usable_size(p) : 0);
  std::free(p);
}
void operator delete(void* p, size_t n) noexcept {
  ScanFreed(p, n);
  std::free(p);
}

TEST(Text, Utf8AndUtf16RoundTripIncludingAstralCharacters) {
  const std::string s = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\x92";  // A, e-acute, euro, lock emoji
  const std::u16string u = FromUtf8(s);
  ASSERT_EQ(u.size(), 5u);  // the emoji is a surrogate pair
  EXPECT_EQ(ToUtf8(u), s);
  EXPECT_EQ(Utf16LeBytes("Ab"), (std::vector<uint8_t>{'A', 0, 'b', 0}));
}

TEST(Text, BrokenUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(FromUtf8("\xC3"), std::u16string(1, u'\xFFFD'));          // truncated
  EXPECT_EQ(FromUtf8("\xE0\x80\x80"), std::u16string(3, u'\xFFFD'));  // overlong
  EXPECT_EQ(FromUtf8("\xED\xA0\x80").size(), 3u);                     // encoded surrogate
}

TEST(Text, FormatSubstitutesOnlyPercentS) {
  EXPECT_EQ(FormatText("The file %s is already existed", {"a%d.txt"}),
            "The file a%d.txt is already existed");
  EXPECT_EQ(FormatText("%s and %s", {"x"}), "x and %s");
}

// Records hold keys and the UTF-16 form of a password is what keys are hashed from: neither
// may stay behind in memory that is freed, by a growing buffer or by a temporary.
TEST(Bytes, SecretsLeaveNoCopyInFreedMemory) {
  const std::string key = "0123456789abcdef-a-key-0123456789";
  g_lookFor = key;
  g_foundInFreed = 0;
  {
    ByteWriter w;
    w.Bytes(key.data(), key.size());
    for (uint32_t i = 0; i < 1000; ++i) w.U32(i);  // grows many times
  }
  EXPECT_EQ(g_foundInFreed, 0) << "a record's key in freed memory";
  const char16_t typed[] = u"a password long enough for the heap";
  g_lookFor = std::string_view(reinterpret_cast<const char*>(typed), sizeof typed - 2);
  std::vector<uint8_t> units = Utf16LeBytes("a password long enough for the heap");
  SecureZero(units.data(), units.size());
  units = {};
  EXPECT_EQ(g_foundInFreed, 0) << "a password's UTF-16 form in freed memory";
  g_lookFor = {};
}

TEST(Bytes, CountedStringsRoundTripAndRefuseHostileCounts) {
  ByteWriter w;
  w.U32(0xA1B2C3D4);
  w.CountedString("h\xC3\xA9");
  const auto& d = w.Data();
  ASSERT_EQ(d.size(), 4u + 4u + 6u);
  EXPECT_EQ(d[4], 3);  // count includes the terminating zero unit
  ByteReader r(d);
  uint32_t v = 0;
  std::string s;
  EXPECT_TRUE(r.U32(v) && r.CountedString(s));
  EXPECT_EQ(v, 0xA1B2C3D4u);
  EXPECT_EQ(s, "h\xC3\xA9");
  EXPECT_EQ(r.Remaining(), 0u);

  const std::vector<uint8_t> huge = {0xFF, 0xFF, 0xFF, 0x7F, 'a', 0, 0, 0};
  ByteReader h(huge);
  EXPECT_FALSE(h.CountedString(s));
  EXPECT_FALSE(h.Ok());
  uint32_t after = 0;
  EXPECT_FALSE(h.U32(after));  // stays failed

  const std::vector<uint8_t> zero = {0, 0, 0, 0};
  ByteReader z(zero);
  EXPECT_FALSE(z.CountedString(s));
  const std::vector<uint8_t> unterminated = {1, 0, 0, 0, 'a', 0};
  ByteReader u(unterminated);
  EXPECT_FALSE(u.CountedString(s));
}
