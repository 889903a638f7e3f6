#include "http/decimal.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace voicecontrol {
namespace {

template <typename Text>
int32_t Read(const Text& text) {
  return ReadDecimalPrefix(text.data(), text.data() + text.size());
}

TEST(DecimalTest, ReadsLikeAtoi) {
  EXPECT_EQ(Read(std::string(" \t\r\n\v\f-42abc")), -42);
  EXPECT_EQ(Read(std::string("+17")), 17);
  EXPECT_EQ(Read(std::string("- 1")), 0);
  EXPECT_EQ(Read(std::string("")), 0);
  EXPECT_EQ(Read(std::wstring(L" 12abc")), 12);
  EXPECT_EQ(Read(std::wstring(L"\u0663")), 0);  // only ASCII digits count
}

TEST(DecimalTest, SaturatesAtTheThirtyTwoBitLimits) {
  EXPECT_EQ(Read(std::string("2147483647")), INT_MAX);
  EXPECT_EQ(Read(std::string("-2147483648")), INT_MIN);
  EXPECT_EQ(Read(std::string("2147483648")), INT_MAX);
  EXPECT_EQ(Read(std::string("-99999999999999999999999")), INT_MIN);
  // 2^32 + 200 must not wrap around onto 200.
  EXPECT_EQ(Read(std::string("4294967496")), INT_MAX);
}

TEST(DecimalTest, NeverReadsPastTheEnd) {
  const std::string text = "12345";
  EXPECT_EQ(ReadDecimalPrefix(text.data(), text.data() + 2), 12);
}

// Writing gives what %d gives, in both character widths, and reads back.
TEST(DecimalTest, WritesLikePrintf) {
  for (int32_t value : {0, 7, -7, 10, 65535, -100, INT_MAX, INT_MIN}) {
    char narrow[kDecimalCapacity];
    wchar_t wide[kDecimalCapacity];
    const std::string expected = std::to_string(value);
    EXPECT_EQ(WriteDecimal(value, narrow), static_cast<int>(expected.size()));
    EXPECT_EQ(std::string(narrow), expected);
    EXPECT_EQ(WriteDecimal(value, wide), static_cast<int>(expected.size()));
    EXPECT_EQ(std::wstring(wide), std::wstring(expected.begin(), expected.end()));
    EXPECT_EQ(Read(expected), value);
  }
}

}  // namespace
}  // namespace voicecontrol
