#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <voicecontrol/xml/xml.h>

namespace voicecontrol {
namespace {

std::string Decoded(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  XmlDecode(buffer.data());
  return buffer.data();
}

TEST(XmlEncodeTest, EscapesTheFiveCharactersOnly) {
  EXPECT_EQ(XmlEncode(""), "");
  EXPECT_EQ(XmlEncode("a<b & \"c\""), "a&lt;b &amp; &quot;c&quot;");
  EXPECT_EQ(XmlEncode("'>"), "&apos;&gt;");
  EXPECT_EQ(XmlEncode("\x01\t\x80\xff&#65;"), "\x01\t\x80\xff&amp;#65;");
  EXPECT_EQ(XmlEncode(nullptr), "");
}

TEST(XmlEncodeTest, DecodeUndoesEncode) {
  for (const char* text :
       {"", "plain", "&amp;", "&&&;;", "<<>>\"\"''", "&lt;tag&gt;", "a&b;c", "\xc3\xa9&\x7f"}) {
    EXPECT_EQ(Decoded(XmlEncode(text)), text) << text;
  }
  // Every byte value once, in one text.
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(Decoded(XmlEncode(all.c_str())), all);
}

TEST(XmlOutputTest, EmptyElementAlwaysHasAnEndTag) {
  XmlNode element;
  element.SetName("e");
  EXPECT_EQ(element.ToString(), "<e></e>");
  element.SetText("");
  EXPECT_EQ(element.ToString(), "<e></e>");
}

TEST(XmlOutputTest, TextComesBeforeChildren) {
  XmlNode a;
  a.SetName("a");
  XmlNode* b = new XmlNode;
  b->SetName("b");
  a.AddChild(b, 1);
  a.AddAttr("x", "1");
  a.SetText("t");
  EXPECT_EQ(a.ToString(), "<a x=\"1\">t<b></b></a>");
}

TEST(XmlOutputTest, ParsedTextMovesInFrontOfChildren) {
  std::unique_ptr<XmlNode> root(XmlParser::Parse("<a x='1'><b/>t</a>"));
  EXPECT_EQ(root->ToString(), "<a x=\"1\">t<b></b></a>");
}

TEST(XmlOutputTest, AttributeValuesAreWrittenUnescaped) {
  XmlNode element;
  element.SetName("e");
  element.AddAttr("q", "say \"hi\" & <go>");
  element.AddAttr("n", "");
  EXPECT_EQ(element.ToString(), "<e q=\"say \"hi\" & <go>\" n=\"\"></e>");
  EXPECT_EQ(element.GetAttr(0)->ToString(), "q=\"say \"hi\" & <go>\"");
}

TEST(XmlOutputTest, AttributeWithoutValueWritesAnEmptyValue) {
  XmlAttr attr;
  attr.SetName("bare");
  EXPECT_EQ(attr.ToString(), "bare=\"\"");
  XmlNode element;
  element.SetName("e");
  XmlAttr* appended = new XmlAttr;
  appended->SetName("bare");
  element.AppendAttr(appended);
  EXPECT_EQ(element.ToString(), "<e bare=\"\"></e>");
}

TEST(XmlOutputTest, CDataIsWrittenAsAnOrdinaryElement) {
  std::unique_ptr<XmlNode> root(XmlParser::Parse("<a><![CDATA[x<y]]></a>"));
  EXPECT_EQ(root->ToString(), "<a><CDATA>x&lt;y</CDATA></a>");
}

TEST(XmlOutputTest, NamesValuesAndTextsOfEveryLengthAroundTheBlocks) {
  // Names are written as blocks of sixteen and texts searched sixteen bytes
  // at a time; each piece here is checked against the plain composition.
  for (size_t length : {1, 15, 16, 17, 31, 32, 33, 64}) {
    const std::string name = "n" + std::string(length - 1, 'x');
    for (size_t special = 0; special <= length + 1; special += length > 8 ? 7 : 1) {
      std::string text(length, 't');
      text.insert(std::min(special, text.size()), "&<>'\"");
      XmlNode element;
      element.SetName(name.c_str());
      element.AddAttr(name.c_str(), text.c_str());
      element.SetText(text.c_str());
      XmlNode* child = new XmlNode;
      child->SetName(name.c_str());
      element.AddChild(child, 1);
      const std::string& tag = name;
      EXPECT_EQ(element.ToString(), "<" + tag + " " + tag + "=\"" + text + "\">" +
                                        XmlEncode(text.c_str()) + "<" + tag + "></" + tag + "></" +
                                        tag + ">")
          << length << " " << special;
      EXPECT_EQ(XmlEncode(text.c_str()).size(), text.size() + 20);
    }
  }
}

TEST(XmlOutputTest, NestedDocument) {
  const char* text =
      "<?xml version='1.0'?>\n"
      "<presence xmlns='urn:ietf:params:xml:ns:pidf' entity='sip:bob@example.com'>\n"
      "  <tuple id='t1'><status><basic>open</basic></status>\n"
      "    <note>Tom &amp; Jerry</note></tuple>\n"
      "</presence>\n";
  std::unique_ptr<XmlNode> root(XmlParser::Parse(text));
  EXPECT_EQ(root->ToString(),
            "<presence xmlns=\"urn:ietf:params:xml:ns:pidf\" entity=\"sip:bob@example.com\">"
            "<tuple id=\"t1\"><status><basic>open</basic></status>"
            "<note>Tom &amp; Jerry</note></tuple></presence>");
  // Only the subtree under the element is written, not its siblings.
  EXPECT_EQ(root->GetChild(0)->GetChild(0)->ToString(), "<status><basic>open</basic></status>");
}

}  // namespace
}  // namespace voicecontrol
