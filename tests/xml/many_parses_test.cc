// Many parses in one process: failures and successes interleaved, trees kept
// for a while and freed in varying order, some of them changed after the
// parse. A parsed tree shares memory that is recycled from one parse to the
// next, so a fault in that bookkeeping shows up as a tree whose content
// changed while it was kept, or as a crash. Only the public interface is
// used.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <voicecontrol/xml/xml.h>

namespace voicecontrol {
namespace {

std::string Describe(const XmlNode& node) {
  std::string out = "<" + std::string(node.GetName());
  for (const XmlAttr* attr = node.GetFirstAttr(); attr; attr = attr->GetNext()) {
    out += " " + std::string(attr->GetName()) + "=" + (attr->GetValue() ? attr->GetValue() : "");
  }
  out += "|" + std::string(node.GetText() ? node.GetText() : "(null)");
  for (const XmlNode* child = node.GetFirstChild(); child; child = child->GetNextSibling()) {
    out += Describe(*child);
  }
  return out + ">";
}

struct Document {
  std::string text;
  std::string tree;  // Describe of the parsed tree; empty when the parse must fail
};

// Big enough to need several blocks of memory, which then go back to be reused.
std::string ManyChildren(const char* end) {
  std::string text = "<r>";
  for (int i = 0; i < 400; ++i) text += "<c n='" + std::to_string(i) + "'>x" + std::to_string(i) + "</c>";
  return text + end;
}
std::string ManyChildrenTree() {
  std::string tree = "<r|";
  for (int i = 0; i < 400; ++i) tree += "<c n=" + std::to_string(i) + "|x" + std::to_string(i) + ">";
  return tree + ">";
}

std::vector<Document> Documents() {
  return {
      {"<a><b>1</b></a>", "<a|<b|1>>"},
      {"<a><b></a>", ""},
      {"<a x='1' y=\"2\">t<b/>u</a>", "<a x=1 y=2|tu<b|(null)>>"},
      {"<a>", ""},
      // Declined by the quick way through documents, then read token by token.
      {"<a><b/ ></a>", ""},
      {"<!DOCTYPE a><a/>", ""},
      {"<a>&lt;&amp;</a>", "<a|<&>"},
      {"<a x=1/>", ""},
      {ManyChildren("</r>"), ManyChildrenTree()},
      {ManyChildren("</x>"), ""},
      {ManyChildren("<b/ ></r>"), ""},
      {"", ""},
  };
}

// A small deterministic generator: the same sequence on every platform.
class Sequence {
 public:
  uint32_t Next(uint32_t bound) {
    state_ = state_ * 1103515245u + 12345u;
    return (state_ >> 8) % bound;
  }

 private:
  uint32_t state_ = 2024;
};

struct Kept {
  std::unique_ptr<XmlNode> tree;
  std::string expected;
};

void ExpectUnchanged(const Kept& kept) { EXPECT_EQ(Describe(*kept.tree), kept.expected); }

TEST(ManyParsesTest, KeptTreesSurviveFailuresAndReuseInAnyOrder) {
  const std::vector<Document> documents = Documents();
  Sequence sequence;
  std::vector<Kept> kept;
  for (int round = 0; round < 3000; ++round) {
    const Document& document = documents[sequence.Next(static_cast<uint32_t>(documents.size()))];
    char message[kXmlMessageSize];
    std::unique_ptr<XmlNode> tree(XmlParser::ParseOrFail(document.text.c_str(), message));
    if (document.tree.empty()) {
      ASSERT_EQ(tree, nullptr) << document.text;
      ASSERT_NE(message[0], '\0') << document.text;
      continue;
    }
    ASSERT_NE(tree, nullptr) << document.text << ": " << message;
    ASSERT_EQ(Describe(*tree), document.tree);
    // Some trees get heap parts or another parsed tree attached, which
    // changes how they are destroyed.
    switch (sequence.Next(4)) {
      case 0: {
        XmlNode* extra = new XmlNode;
        extra->SetName("extra");
        extra->SetText("heap");
        tree->AddChild(extra, 1);
        tree->SetAttr("k", "changed");
        break;
      }
      case 1:
        if (!kept.empty()) {
          const size_t donor = sequence.Next(static_cast<uint32_t>(kept.size()));
          tree->AddChild(kept[donor].tree.release(), 0);
          kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(donor));
        }
        break;
      default:
        break;
    }
    kept.push_back({std::move(tree), ""});
    kept.back().expected = Describe(*kept.back().tree);
    // Free one kept tree, chosen at random, once there are enough.
    if (kept.size() > 12) {
      const size_t victim = sequence.Next(static_cast<uint32_t>(kept.size()));
      ExpectUnchanged(kept[victim]);
      kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(victim));
    }
    if (round % 25 == 0) {
      for (const Kept& each : kept) ExpectUnchanged(each);
    }
  }
}

}  // namespace
}  // namespace voicecontrol
