#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/text.h"

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
