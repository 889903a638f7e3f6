#include "interface/plain_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <voicecontrol/interface/dom.h>
#include "platform/codepage.h"

namespace voicecontrol {
namespace {

struct Reading {
  bool accepted = false;
  std::vector<std::string> names;
  std::vector<std::string> texts;
};

Reading Read(const std::string& text) {
  PlainDocument document;
  Reading reading;
  reading.accepted = document.Parse(text);
  if (!reading.accepted) return reading;
  for (const PlainDocument::Element& element : document.elements()) {
    reading.names.emplace_back(document.Name(element));
    reading.texts.emplace_back(document.Text(element));
  }
  return reading;
}

TEST(PlainDocumentTest, ReadsElementsAndTheirCharacterData) {
  const Reading r = Read(
      "<?xml version='1.0' standalone=\"yes\" ?>\r\n<Interface>\n<Response>"
      "<Seq_No> 7 </Seq_No><Field><Field_Value>a&lt;b&amp;&#x4e2d;&#20013;&#x1F600;</Field_Value>"
      "<Field_Value/><Field_Value>line\r\nnext\rlast</Field_Value></Field></Response></Interface>\n");
  ASSERT_TRUE(r.accepted);
  EXPECT_EQ(r.names, (std::vector<std::string>{"Interface", "Response", "Seq_No", "Field",
                                               "Field_Value", "Field_Value", "Field_Value"}));
  EXPECT_EQ(r.texts[2], " 7 ");
  EXPECT_EQ(r.texts[4], "a<b&\xE4\xB8\xAD\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(r.texts[5], "");
  EXPECT_EQ(r.texts[6], "line\nnext\nlast");  // line ends read as LF
  EXPECT_EQ(r.texts[0], "\n" + r.texts[2] + r.texts[4] + r.texts[6]);  // descendants gathered
  EXPECT_TRUE(Read("<a/>").accepted);
  EXPECT_TRUE(Read(" \t<a >x]>]&gt;</a >").accepted);
}

// Every text outside the plain shape, well formed or not, is left to the
// full parser: the reader never has to agree with it on a refusal.
TEST(PlainDocumentTest, DeclinesWhatItDoesNotRead) {
  const char* const declined[] = {
      "",  "   ", "<a", "<a>", "<a></b>", "<a><b></a></b>", "<a/><b/>", "<a/>x", "x<a/>",
      "<a x='1'/>", "<a><!-- c --></a>", "<a><![CDATA[x]]></a>", "<a><?pi x?></a>",
      "<!DOCTYPE a><a/>", "<p:a xmlns:p='u'/>", "<a:b/>", "<\xC3\xA9/>", "<xmlfoo/>",
      "<1a/>", "<a>]]></a>", "<a>\x01</a>", "<a>\xC3</a>", "<a>\xC0\x80</a>",
      "<a>\xED\xA0\x80</a>", "<a>\xEF\xBF\xBE</a>", "<a>\xF4\x90\x80\x80</a>", "<a>&#0;</a>",
      "<a>&#xD800;</a>", "<a>&#x110000;</a>", "<a>&#X41;</a>", "<a>&#;</a>", "<a>&#12</a>",
      "<a>&nbsp;</a>", "<a>&lt</a>", "<a>&</a>", "<a><</a>", "<a/ >",
      "<?xml version='1.0' encoding='UTF-8'?><a/>", "<?xml version='1.1'?><a/>",
      "<?xml version='1.0'standalone='yes'?><a/>", "<?xml?><a/>", " <?xml version='1.0'?><a/>",
      "<?xml-stylesheet href='x'?><a/>", "\xEF\xBB\xBF<a/>",
  };
  for (const char* text : declined) EXPECT_FALSE(Read(text).accepted) << text;

  std::string deep;
  for (int i = 0; i < 200; ++i) deep += "<a>";
  for (int i = 0; i < 200; ++i) deep += "</a>";
  EXPECT_FALSE(Read(deep).accepted);
  // Large documents are the full parser's, which has size limits of its own.
  EXPECT_FALSE(Read("<a>" + std::string(size_t{1} << 20, 'x') + "</a>").accepted);
}

#if !defined(_WIN32)
// What the plain reading answers must be what libxml2's tree answers for
// the same text: "//*" is no plain path, so it goes to the XPath engine.
TEST(PlainDocumentTest, AgreesWithTheFullParserOnEveryElement) {
  const std::string texts[] = {
      "<?xml version=\"1.0\" ?>\n<Interface>\n<Response>\n<Seq_No>7</Seq_No>\n<Field>\n"
      "<Field_Value>a&amp;b &#x4e2d;\xE6\x96\x87</Field_Value>\n<Field_Value/>\n</Field>\n"
      "</Response>\n</Interface>",
      "<r>\r\n<a>1\r2</a><b><c>&#13;&#x9;&quot;&apos;</c><c/></b>tail</r>\r\n",
  };
  for (const std::string& text : texts) {
    const Reading plain = Read(text);
    ASSERT_TRUE(plain.accepted) << text;
    DomDocument dom;
    const DomNode root = dom.LoadXml(platform::Utf8ToWideString(text.data(), text.size()));
    ASSERT_FALSE(root.IsEmpty());
    DomNodeList all = root.SelectNodes(L"//*");
    for (size_t i = 0; i < plain.names.size(); ++i) {
      const DomNode node = all.NextElement();
      ASSERT_FALSE(node.IsEmpty()) << i;
      EXPECT_EQ(platform::WideToUtf8String(node.GetName()), plain.names[i]);
      EXPECT_EQ(platform::WideToUtf8String(node.GetText()), plain.texts[i]) << i;
    }
    EXPECT_TRUE(all.NextElement().IsEmpty());
  }
}

// A node of the plain reading serves as the context of any XPath query.
TEST(PlainDocumentTest, PlainNodesAnswerGeneralQueries) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(L"<r><a>1</a><b><a>2</a></b></r>");
  const DomNode b = root.SelectSingleNode(L"//r/b");
  ASSERT_FALSE(b.IsEmpty());
  EXPECT_EQ(b.SelectSingleNode(L"a").GetText(), L"2");
  EXPECT_EQ(b.SelectSingleNode(L"../a/text()").GetName(), L"#text");
  EXPECT_THROW(root.SelectSingleNode(L"count(//a)"), DomError);
}
#endif

}  // namespace
}  // namespace voicecontrol
