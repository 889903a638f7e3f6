#include "http/text_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace voicecontrol {
namespace {

TEST(TextScanTest, StartsWithNoCaseFoldsAsciiLettersOnly) {
  struct Case {
    const char* text;
    const char* prefix;
    bool expected;
  };
  const Case cases[] = {
      {"Content-Length: 5", "content-length:", true},
      {"CONTENT-LENGTH:", "Content-Length:", true},
      {"content-lengt", "content-length:", false},  // shorter than the prefix
      {"http/1.1", "HTTP/", true},
      {"HTTP\\1.1", "HTTP/", false},
      {"\xC3\x89tag", "\xC3\xA9tag", false},  // É and é: not ASCII
      {"", "", true},
  };
  for (const Case& c : cases) {
    const std::string text = c.text;
    EXPECT_EQ(StartsWithNoCase(text.data(), text.size(), c.prefix), c.expected) << c.text;
  }
}

TEST(TextScanTest, ReadWordStopsAtWhiteSpaceAndTheEnd) {
  const std::string line = " \r\n\tGET  /x\vHTTP/1.1";
  const char* const end = line.data() + line.size();
  Word method, uri, version, none;
  const char* p = ReadWord(line.data(), end, &method);
  p = ReadWord(p, end, &uri);
  p = ReadWord(p, end, &version);
  ReadWord(p, end, &none);
  EXPECT_TRUE(method.Equals("GET"));
  EXPECT_TRUE(uri.Equals("/x"));
  EXPECT_TRUE(version.Equals("HTTP/1.1"));
  EXPECT_FALSE(version.Equals("http/1.1"));
  EXPECT_EQ(none.length, 0u);
  // A word never runs past the end given, even inside a longer text.
  ReadWord(line.data(), line.data() + 6, &method);
  EXPECT_TRUE(method.Equals("GE"));
}

}  // namespace
}  // namespace voicecontrol
