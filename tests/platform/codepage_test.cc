#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace voicecontrol {
namespace platform {
namespace {

TEST(CodepageTest, Utf8RoundTripsEveryPlane) {
  const std::string utf8 = "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80";  // a é 中 😀
  const std::wstring wide = Utf8ToWideString(utf8);
  EXPECT_EQ(WideToUtf8String(wide), utf8);
  EXPECT_EQ(wide.substr(0, 3), std::wstring(L"a\u00e9\u4e2d"));
}

TEST(CodepageTest, InvalidUtf8BecomesReplacementCharacters) {
  // A lone continuation byte, a truncated sequence, an overlong form and an
  // encoded surrogate: each ill-formed piece is one U+FFFD, nothing is lost
  // around it.
  EXPECT_EQ(Utf8ToWideString(std::string("x\x80y")), std::wstring(L"x\uFFFDy"));
  EXPECT_EQ(Utf8ToWideString(std::string("x\xe4\xb8")), std::wstring(L"x\uFFFD"));
  EXPECT_EQ(Utf8ToWideString(std::string("\xc0\xafz")), std::wstring(L"\uFFFD\uFFFDz"));
#if defined(_WIN32)
  // The system converter decides how many replacement characters an encoded
  // surrogate becomes (Wine's gives two, not one per byte); what matters is
  // that no surrogate code unit leaks through.
  const std::wstring surrogate = Utf8ToWideString(std::string("\xed\xa0\x80"));
  EXPECT_FALSE(surrogate.empty());
  EXPECT_EQ(surrogate.find_first_not_of(L'\uFFFD'), std::wstring::npos);
#else
  EXPECT_EQ(Utf8ToWideString(std::string("\xed\xa0\x80")), std::wstring(L"\uFFFD\uFFFD\uFFFD"));
#endif
}

#if WCHAR_MAX > 0xFFFF
TEST(CodepageTest, UnpairedSurrogateAndOutOfRangeBecomeReplacement) {
  const std::wstring wide = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000)};
  EXPECT_EQ(WideToUtf8String(wide), "a\xef\xbf\xbd\xef\xbf\xbd");
}
#endif

TEST(CodepageTest, EmbeddedNulIsKept) {
  const std::string utf8("a\0b", 3);
  EXPECT_EQ(Utf8ToWideString(utf8).size(), 3u);
  EXPECT_EQ(WideToUtf8String(Utf8ToWideString(utf8)), utf8);
}

// Long texts are converted a block of ASCII at a time: a character that is
// not ASCII must be found at every position relative to those blocks.
TEST(CodepageTest, NonAsciiAtEveryPositionOfALongText) {
  for (size_t at = 0; at < 40; ++at) {
    std::string utf8(40, 'a');
    utf8.insert(at, "\xe4\xb8\xad");  // 中
    std::wstring wide(40, L'a');
    wide.insert(at, 1, L'\u4e2d');
    EXPECT_EQ(Utf8ToWideString(utf8), wide) << at;
    EXPECT_EQ(WideToUtf8String(wide), utf8) << at;

    std::string invalid(40, 'b');
    invalid[at] = '\xff';
    std::wstring replaced(40, L'b');
    replaced[at] = L'\uFFFD';
    EXPECT_EQ(Utf8ToWideString(invalid), replaced) << at;
  }
}

// A double-byte code page chosen by the host: Chinese text both ways, an
// undefined or cut-off sequence as U+FFFD with the rest kept, a character
// the code page lacks as '?'.
TEST(CodepageTest, ChosenDoubleByteCodePage) {
  ASSERT_TRUE(SelectAnsiCodePage("GBK"));
  EXPECT_FALSE(AnsiIsUtf8());
  EXPECT_EQ(AnsiToWideString(std::string("a\xd6\xd0\xce\xc4z")), std::wstring(L"a\u4e2d\u6587z"));
  EXPECT_EQ(WideToAnsiString(std::wstring(L"a\u4e2d\u6587z")), "a\xd6\xd0\xce\xc4z");
  EXPECT_EQ(AnsiToWideString(std::string("x\xd6")), std::wstring(L"x\uFFFD"));
  const std::wstring undefined = AnsiToWideString(std::string("x\xff\xffy"));
  EXPECT_EQ(undefined.front(), L'x');
  EXPECT_EQ(undefined.back(), L'y');
  EXPECT_NE(undefined.find(L'\uFFFD'), std::wstring::npos);
  EXPECT_EQ(WideToAnsiString(std::wstring(L"a\u0e01b")), "a?b");  // Thai is not in GBK

#if !defined(_WIN32)  // Wine has no GB18030 converter
  ASSERT_TRUE(SelectAnsiCodePage("GB18030"));  // every character has a form here
  const std::wstring emoji = Utf8ToWideString(std::string("\xf0\x9f\x98\x80"));
  EXPECT_EQ(AnsiToWideString(WideToAnsiString(emoji)), emoji);
#endif
  ResetAnsiCodePage();
}

}  // namespace
}  // namespace platform
}  // namespace voicecontrol
