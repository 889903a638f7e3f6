#include <gtest/gtest.h>

#include <string>

#include <voicecontrol/controller/VoiceController.h>

namespace voicecontrol {
namespace {

int Complete(const std::string& text) {
  return IsResponseComplete(text.c_str(), static_cast<int>(text.size()));
}

TEST(IsResponseCompleteTest, NeedsTheEndOfTheHeaderBlock) {
  EXPECT_EQ(Complete(""), 0);
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\n"), 0);
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r"), 0);
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), 1);
  EXPECT_EQ(IsResponseComplete(nullptr, 5), 0);
}

TEST(IsResponseCompleteTest, WaitsForContentLengthBodyBytes) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nHost: Host\r\n\r\n";
  EXPECT_EQ(Complete(head), 0);
  EXPECT_EQ(Complete(head + "abcd"), 0);
  EXPECT_EQ(Complete(head + "abcde"), 1);
  EXPECT_EQ(Complete(head + "abcdefgh"), 1);  // extra bytes are fine
}

TEST(IsResponseCompleteTest, WithoutContentLengthTheHeaderEndCompletes) {
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\nHost: Host\r\n\r\n"), 1);
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\n\r\n"), 1);
  // A Content-Length in the body does not count.
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\n\r\n\r\nContent-Length: 99\r\n"), 1);
}

TEST(IsResponseCompleteTest, HeaderNameIsCaseInsensitiveAndNeedsTheColonAtOnce) {
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 3\r\n\r\nab"), 0);
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\ncOnTeNt-LeNgTh:3\r\n\r\nab"), 0);
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\ncontent-length:3\r\n\r\nabc"), 1);
  // A space before the colon: not the header, complete at the header end.
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\nContent-Length : 3\r\n\r\n"), 1);
  // The status line is never taken for the header.
  EXPECT_EQ(Complete("Content-Length: 9\r\n\r\n"), 1);
}

TEST(IsResponseCompleteTest, OnlyTheFirstContentLengthCounts) {
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Length: 9\r\n\r\n"), 1);
  EXPECT_EQ(Complete("HTTP/1.1 200 OK\r\nContent-Length: 9\r\nContent-Length: 0\r\n\r\n"), 0);
}

TEST(IsResponseCompleteTest, ReadsTheNumberAsAtoiDoes) {
  const std::string status = "HTTP/1.1 200 OK\r\n";
  EXPECT_EQ(Complete(status + "Content-Length:   \t2xyz\r\n\r\nab"), 1);
  EXPECT_EQ(Complete(status + "Content-Length: 2xyz\r\n\r\na"), 0);
  EXPECT_EQ(Complete(status + "Content-Length: none\r\n\r\n"), 1);  // no digits: 0
  EXPECT_EQ(Complete(status + "Content-Length: -7\r\n\r\n"), 1);
  EXPECT_EQ(Complete(status + "Content-Length: +1\r\n\r\n"), 0);
  // Far beyond int: saturates, never wraps to a small number.
  EXPECT_EQ(Complete(status + "Content-Length: 4294967297\r\n\r\nab"), 0);
  EXPECT_EQ(Complete(status + "Content-Length: 99999999999999999999999999\r\n\r\nab"), 0);
  EXPECT_EQ(Complete(status + "Content-Length: -99999999999999999999999999\r\n\r\n"), 1);
}

TEST(IsResponseCompleteTest, LooksOnlyAtTheGivenLength) {
  const std::string text = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab";
  EXPECT_EQ(IsResponseComplete(text.c_str(), static_cast<int>(text.size()) - 1), 0);
  // A header cut off inside its name is not read past the end.
  const std::string cut = "HTTP/1.1 200 OK\r\n\r\n";
  EXPECT_EQ(IsResponseComplete("HTTP/1.1 200 OK\r\nContent-Len", 28), 0);
  EXPECT_EQ(Complete(cut), 1);
}

}  // namespace
}  // namespace voicecontrol
