#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <voicecontrol/xml/xml.h>

namespace voicecontrol {
namespace {

// A document whose shape depends on `seed`, and the text its tree prints as.
std::string Document(int seed, std::string* printed) {
  const std::string tag = "t" + std::to_string(seed);
  std::string text = "<" + tag + " n='" + std::to_string(seed) + "'>";
  *printed = "<" + tag + " n=\"" + std::to_string(seed) + "\">";
  for (int i = 0; i < seed + 3; ++i) {
    text += "<item i='" + std::to_string(i) + "'>v" + std::to_string(i) + "</item>";
    *printed += "<item i=\"" + std::to_string(i) + "\">v" + std::to_string(i) + "</item>";
  }
  text += "</" + tag + ">";
  *printed += "</" + tag + ">";
  return text;
}

TEST(XmlParserThreadTest, ThreadsParseDifferentDocumentsAtOnce) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  std::atomic<int> mismatches{0};
  std::atomic<int> errors{0};
  std::thread threads[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    threads[t] = std::thread([t, &mismatches, &errors] {
      std::string expected;
      const std::string text = Document(t, &expected);
      const std::string bad = "<" + std::string(t + 1, 'a') + "></b>";
      const std::string bad_message =
          "line 1, col " + std::to_string(t + 6) + ", tag b not match " + std::string(t + 1, 'a');
      for (int round = 0; round < kRounds; ++round) {
        std::unique_ptr<XmlNode> root(XmlParser::Parse(text.c_str()));
        if (root->ToString() != expected) ++mismatches;
        try {
          delete XmlParser::Parse(bad.c_str());
          ++errors;
        } catch (const TXMLExcept& error) {
          if (bad_message != error.what()) ++errors;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(errors.load(), 0);
}

}  // namespace
}  // namespace voicecontrol
