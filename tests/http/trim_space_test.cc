#include <voicecontrol/http/trim_space.h>

#include <gtest/gtest.h>

#include <string>

namespace voicecontrol {
namespace {

std::string Trimmed(std::string text) {
  TrimSpace(text.data());
  return text.c_str();
}

TEST(TrimSpaceTest, RemovesControlBytesAtBothEndsOnly) {
  EXPECT_EQ(Trimmed(" \t\r\n a b \x01\x1f "), "a b");
  EXPECT_EQ(Trimmed("inner  space"), "inner  space");
}

TEST(TrimSpaceTest, EmptyAndAllBlankBecomeEmpty) {
  EXPECT_EQ(Trimmed(""), "");
  EXPECT_EQ(Trimmed(" \t \r\n"), "");
}

TEST(TrimSpaceTest, HighBytesAreText) {
  EXPECT_EQ(Trimmed("\xa0x\xff"), "\xa0x\xff");
  EXPECT_EQ(Trimmed(" \x80 "), "\x80");
}

}  // namespace
}  // namespace voicecontrol
