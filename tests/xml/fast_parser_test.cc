// XmlParser::Parse takes a fast way through most documents and falls back to
// the token-by-token parse for the rest. These tests pin down that the two
// agree - tree, lines, messages and the scanner state left behind - on the
// cases where they could most easily part, and that the fast way really is
// taken for ordinary documents.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include <voicecontrol/xml/xml.h>
#include "xml/xml_fast_parser.h"

namespace voicecontrol {
namespace {

// Everything observable about a tree, lines included, as one string.
void Describe(const XmlNode& node, std::string* out) {
  *out += "<" + std::string(node.GetName()) + "@" + std::to_string(node.GetLine());
  for (const XmlAttr* attr = node.GetFirstAttr(); attr; attr = attr->GetNext()) {
    *out += " " + std::string(attr->GetName()) + "@" + std::to_string(attr->GetLine()) + "=[" +
            (attr->GetValue() ? attr->GetValue() : "(null)") + "]";
  }
  *out += node.GetText() ? "|" + std::string(node.GetText()) + "|" : "(null)";
  for (const XmlNode* child = node.GetFirstChild(); child; child = child->GetNextSibling()) {
    Describe(*child, out);
  }
  *out += ">";
}

// The tree's description or the error message, and the scanner state after.
std::string Outcome(XmlNode* (*parse)(const char*), const std::string& text) {
  std::string result;
  try {
    std::unique_ptr<XmlNode> root(parse(text.c_str()));
    Describe(*root, &result);
  } catch (const TXMLExcept& error) {
    result = std::string("error: ") + error.what();
  }
  const XmlParser& scanner = XmlParser::Current();
  result += " / scanner " + std::to_string(scanner.position - text.c_str()) + " " +
            std::to_string(scanner.countedTo - text.c_str()) + " " + std::to_string(scanner.kind) +
            " " + std::to_string(scanner.inTag) + " " + std::to_string(scanner.line) + ":" +
            std::to_string(scanner.column) + " [" + scanner.tokenText + "][" + scanner.dataText +
            "]";
  return result;
}

void ExpectSameAsReference(const std::string& text) {
  EXPECT_EQ(Outcome(XmlParser::Parse, text), Outcome(XmlParsePaths::TokenByToken, text))
      << "text: " << text;
}

bool FastWayTakes(const std::string& text) {
  XmlRootEnd end;
  std::unique_ptr<XmlNode> root(XmlParsePaths::Fast(text.c_str(), &end));
  return root != nullptr;
}

const char kPresence[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- status -->\n"
    "<presence xmlns=\"urn:ietf:params:xml:ns:pidf\" entity='sip:a@example.com'>\n"
    "  <tuple id=\"t1\">\n"
    "    <status><basic>open</basic></status>\n"
    "    <note xml:lang=\"en\">Meeting &amp; lunch\n until 14:00 </note>\n"
    "    <contact\n priority = \"0.8\" >sip:a@pc.example.com</contact >\n"
    "    <data>a<!-- x -->b<?pi?> c &lt;<![CDATA[ raw & ]]>d<e/>f</data>\n"
    "  </tuple>\n"
    "</presence>\n"
    "trailing text";

TEST(XmlFastParserTest, TakesOrdinaryDocumentsAndAgrees) {
  EXPECT_TRUE(FastWayTakes(kPresence));
  ExpectSameAsReference(kPresence);
  std::unique_ptr<XmlNode> root(XmlParser::Parse(kPresence));
  const XmlNode* tuple = root->FindChild("tuple");
  ASSERT_NE(tuple, nullptr);
  EXPECT_EQ(tuple->GetLine(), 4);
  EXPECT_STREQ(tuple->FindChild("note")->GetText(), "Meeting & lunch\n until 14:00");
  EXPECT_EQ(tuple->FindChild("contact")->GetLine(), 8);
  EXPECT_EQ(tuple->FindChild("contact")->GetFirstAttr()->GetLine(), 9);
  const XmlNode* data = tuple->FindChild("data");
  EXPECT_STREQ(data->GetText(), "abc <df");
  EXPECT_STREQ(data->FindChild("CDATA")->GetText(), " raw & ");
  EXPECT_EQ(data->FindChild("CDATA")->GetLine(), 0);
}

TEST(XmlFastParserTest, AgreesOnSyntaxCorners) {
  for (const char* text : {
           "",
           "   ",
           "x",
           "<",
           "<a",
           "<a>",
           "<a/>",
           "< a >< /a>",
           "<a></a >",
           "<a></ a>",
           "<a></b>",
           "<a></a",
           "<a/ >",
           "<a b>",
           "<a b=c>",
           "<a b='x\"y' c=\"&apos;&#65;\"/>",
           "<a b='1'c='2'/>",
           "<a b='unterminated/>",
           "<a:b:c/>",
           "<a:b/>",
           "<a:b></a:b:c>",
           "<a.b/>",
           "<a>\x01 x \x02</a>",
           "<a>x&amp;lt;y&am</a>",
           "<a>&lt</a>",
           "</a>",
           "<![CDATA[x]]><a/>",
           "<a><![CDATA[x]]</a>",
           "<a><!-- x </a>",
           "<a><? x </a>",
           "<a><!DOCTYPE x></a>",
           "<!DOCTYPE x><a/>",
           "<!-->\n<a/>",
           "<?>\n<a/>",
           "<a>\r\n</a>\n",
           "<a>x</a>\n  <b",
           "<a/><!-- unterminated",
           "<a>x<!-- y -->z<b/>w</a>",
           "\n\n<a\n\nb\n=\n'\n'\n>\n<c\n/>\n</a\n>\n\n  x",
       }) {
    ExpectSameAsReference(text);
  }
}

TEST(XmlFastParserTest, AgreesAtTheLimits) {
  const std::string name64(64, 'n'), name65(65, 'n');
  for (const std::string& name : {name64, name65}) {
    ExpectSameAsReference("<" + name + "/>");
    ExpectSameAsReference("<a " + name + "='v'/>");
    ExpectSameAsReference("<" + name64 + "></" + name + ">");
  }
  for (size_t length : {255, 256}) {
    ExpectSameAsReference("<a v='" + std::string(length, 'v') + "'/>");
  }
  for (size_t length : {2047, 2048}) {
    ExpectSameAsReference("<a>" + std::string(length, 't') + "</a>");
    ExpectSameAsReference("<a><![CDATA[" + std::string(length + 1, 'c') + "]]></a>");
  }
  // The limit on an element's text counts decoded runs, before trimming.
  for (size_t length : {1000, 1001}) {
    ExpectSameAsReference("<a>" + std::string(1024, 't') + "<b/>" + std::string(length, 'u') +
                          "&amp;&lt;" + std::string(22, ' ') + "</a>");
  }
  for (int depth : {256, 257}) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<e>";
    for (int i = 0; i < depth; ++i) text += "</e>";
    ExpectSameAsReference(text);
  }
}

TEST(XmlFastParserTest, AgreesAroundTheSixteenByteBlocks) {
  // Names, values and texts are scanned and copied sixteen bytes at a time
  // where the text has room; these lengths sit on either side of a block,
  // and each document comes once with room after it and once ending right
  // there.
  for (size_t length : {1, 15, 16, 17, 31, 32, 33, 47, 48, 63, 64}) {
    const std::string name = "n" + std::string(length - 1, 'x');
    const std::string value(length, 'v');
    const std::string prefixed = "p:" + name.substr(0, length > 2 ? length - 2 : 1);
    for (const std::string& tail : {std::string(), std::string(40, ' ') + "after"}) {
      ExpectSameAsReference("<" + name + "/>" + tail);
      ExpectSameAsReference("<" + name + "></" + name + ">" + tail);
      ExpectSameAsReference("<" + name + "></" + name + "y>" + tail);
      ExpectSameAsReference("<a " + prefixed + "='" + value + "'/>" + tail);
      ExpectSameAsReference("<a " + prefixed + ":z='1'/>" + tail);
      ExpectSameAsReference("<a b=\"" + value + "&amp;\"/>" + tail);
      ExpectSameAsReference("<a b='" + value + "\n" + value + "' c='2'/>" + tail);
      ExpectSameAsReference("<a>" + value + "&lt;" + value + "\n" + value + "</a>" + tail);
      ExpectSameAsReference("<a>\n" + value + "\n</a" + std::string(length, ' ') + ">" + tail);
      ExpectSameAsReference("<a>" + value + "<b/>" + value + "</a>" + tail);
    }
  }
  // Blanks between attributes: none, one space, and every other mix.
  for (const char* blanks : {"", " ", "  ", "\t", "\n", " \n", "\r\n ", "\n\n\n    "}) {
    const std::string b = blanks;
    ExpectSameAsReference("<a" + b + "x='1'" + b + "y=" + b + "'2'" + b + "/>");
    ExpectSameAsReference("<a x" + b + "=" + b + "'1'" + b + ">t</a" + b + ">");
  }
}

TEST(XmlFastParserTest, ParsedNamesPrintAndCopyExactly) {
  // The parser writes a name as whole blocks and cuts it with the
  // terminator; nothing of the block may show in the output or a copy.
  for (const char* text : {"<ab c='d'/>", "<ab c='d'>e</ab>", "<ab c='d'></ab>  ",
                           "<a><![CDATA[x]]></a>", "<name-of-seventeen x:y='z'/>"}) {
    std::unique_ptr<XmlNode> root(XmlParser::Parse(text));
    std::unique_ptr<XmlNode> reference(XmlParsePaths::TokenByToken(text));
    EXPECT_EQ(root->ToString(), reference->ToString()) << text;
    std::unique_ptr<XmlNode> copy(root->Clone(nullptr));
    EXPECT_EQ(copy->ToString(), reference->ToString()) << text;
  }
}

TEST(XmlFastParserTest, TreesParsedInTurnStayIntact) {
  // Arena memory of destroyed trees is reused by later parses on the same
  // thread; a tree still alive must not be touched by that.
  std::string big = "<r>";
  for (int i = 0; i < 20000; ++i) big += "<e a='" + std::to_string(i) + "'>text</e>";
  big += "</r>";
  std::unique_ptr<XmlNode> first(XmlParser::Parse(big.c_str()));
  std::unique_ptr<XmlNode> second(XmlParser::Parse(kPresence));
  const std::string printed = second->ToString();
  first.reset();
  std::unique_ptr<XmlNode> third(XmlParser::Parse(big.c_str()));
  EXPECT_EQ(second->ToString(), printed);
  EXPECT_EQ(third->GetChildCount(), 20000);
  EXPECT_STREQ(third->GetChild(19999)->GetAttrValue("a"), "19999");
  // A tree may die on another thread than the one that parsed it.
  std::thread([&third] { third.reset(); }).join();
  EXPECT_EQ(second->ToString(), printed);
}

TEST(XmlFastParserTest, HeapPartsAttachedToAParsedTreeAreFreedWithIt) {
  // A parsed tree is released as a whole unless something from outside its
  // memory was attached; the leak checker sees anything missed here.
  std::unique_ptr<XmlNode> root(XmlParser::Parse("<r a='1'><c b='2'>t</c><d/></r>"));
  XmlNode* child = root->FindChild("c");
  child->SetText("heap text");
  child->GetFirstAttr()->SetValue("heap value");
  child->AddAttr("extra", "x");
  child->AddChild(new XmlNode, 1);
  child->AddChild(XmlParser::Parse("<parsed><inner/></parsed>"), 0);
  root->FindChild("d")->InsertSibling(new XmlNode, 1);
  root->FindChild("d")->InsertSibling(new XmlNode, 0);
  EXPECT_EQ(root->GetChildCount(), 4);
  EXPECT_EQ(child->GetChildCount(), 2);
  EXPECT_STREQ(child->GetChild(0)->GetName(), "parsed");
  root.reset();

  // Each kind of attachment on its own, on an otherwise untouched tree.
  const char* text = "<r a='1'><c/></r>";
  std::unique_ptr<XmlNode> a(XmlParser::Parse(text));
  a->GetFirstAttr()->SetValue("v");
  std::unique_ptr<XmlNode> b(XmlParser::Parse(text));
  b->GetFirstChild()->SetText("t");
  std::unique_ptr<XmlNode> c(XmlParser::Parse(text));
  c->GetFirstChild()->AddAttr("n", "v");
  std::unique_ptr<XmlNode> d(XmlParser::Parse(text));
  d->GetFirstChild()->AddChild(new XmlNode, 1);
  std::unique_ptr<XmlNode> e(XmlParser::Parse(text));
  e->GetFirstChild()->InsertSibling(new XmlNode, 1);
  // A parsed tree inside a hand-made one.
  XmlNode made;
  made.SetText("stack");
  made.AddChild(XmlParser::Parse(text), 1);
  EXPECT_EQ(made.GetChildCount(), 1);
}

}  // namespace
}  // namespace voicecontrol
