#include <voicecontrol/interface/dom.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "answer_documents.h"
#include "interface/dom_text.h"
#include "platform/codepage.h"

namespace voicecontrol {
namespace {

using testing::RunningUnderWine;

const wchar_t kDocument[] =
    L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n"
    L"<Interface>\n<Response>\n<Seq_No>7</Seq_No>\n"
    L"<Field>\n<Field_Value>x</Field_Value>\n<Field_Value> y </Field_Value>\n"
    L"<Field_Value>\u4e2d\u6587</Field_Value>\n</Field>\n</Response>\n</Interface>";

TEST(StripEncodingDeclarationTest, RemovesOnlyTheEncoding) {
  EXPECT_EQ(StripEncodingDeclaration(L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<a/>"),
            L"<?xml version=\"1.0\" ?>\n<a/>");
  EXPECT_EQ(StripEncodingDeclaration(L"<?xml version='1.0'\tencoding = 'x' standalone='yes'?><a/>"),
            L"<?xml version='1.0' standalone='yes'?><a/>");
  EXPECT_EQ(StripEncodingDeclaration(L"\uFEFF<?xml version=\"1.0\" encoding=\"GB2312\"?><a/>"),
            L"\uFEFF<?xml version=\"1.0\"?><a/>");
}

TEST(StripEncodingDeclarationTest, FindsTheSpanInBothTextKinds) {
  const TextSpan wide = FindEncodingDeclaration(L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>");
  EXPECT_EQ(wide.begin, 19u);
  EXPECT_EQ(wide.length, 18u);
  const TextSpan utf8 =
      FindEncodingDeclaration("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"x\"?>");
  EXPECT_EQ(utf8.begin, 22u);  // after the three bytes of the byte-order mark
  EXPECT_EQ(utf8.length, 13u);
  EXPECT_EQ(FindEncodingDeclaration(L"<a/>").length, 0u);
  EXPECT_EQ(FindEncodingDeclaration("<?xml version=\"1.0\" encodings=\"x\"?>").length, 0u);
}

TEST(StripEncodingDeclarationTest, LeavesOtherTextsAlone) {
  for (const std::wstring text :
       {L"", L"<a encoding=\"x\"/>", L"<?xml version=\"1.0\"?><a/>",
        L"<?xml-stylesheet encoding=\"x\"?><a/>", L" <?xml version=\"1.0\" encoding=\"x\"?>",
        L"<?xml version=\"1.0\" encoding=\"GB2312", L"<?xml version=1.0 encoding=\"x\"?>",
        L"<?xml"}) {
    EXPECT_EQ(StripEncodingDeclaration(text), text);
  }
}

TEST(StripEncodingDeclarationTest, BlankingKeepsEveryPosition) {
  std::wstring wide = L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<a/>";
  BlankEncodingDeclaration(&wide);
  EXPECT_EQ(wide, L"<?xml version=\"1.0\"                   ?>\n<a/>");
  std::string utf8 = "\xEF\xBB\xBF<?xml version='1.0' encoding='x'?><a/>";
  BlankEncodingDeclaration(&utf8);
  EXPECT_EQ(utf8, "\xEF\xBB\xBF<?xml version='1.0'             ?><a/>");
}

// Only a declaration in the prolog counts, found in both text kinds.
TEST(DocumentTypeDeclarationTest, FoundInTheProlog) {
  const struct {
    const char* text;
    bool found;
  } cases[] = {
      {"<!DOCTYPE a><a/>", true},
      {"\xEF\xBB\xBF<!DOCTYPE a><a/>", true},
      {"<?xml version=\"1.0\"?>\n<!-- x --> <?pi ?>\r\n\t<!DOCTYPE a [<!ENTITY e \"x\">]><a/>", true},
      {"<a/>", false},
      {"<a><!DOCTYPE b></a>", false},  // past the prolog: not well formed anyway
      {"<!-- <!DOCTYPE a> --><a/>", false},
      {"<?pi <!DOCTYPE a> ?><a/>", false},
      {"<!-- never closed <!DOCTYPE a>", false},
      {"<!doctype a><a/>", false},  // not XML's spelling; the parser refuses it
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HasDocumentTypeDeclaration(std::string_view(c.text)), c.found) << c.text;
    const std::wstring wide = platform::Utf8ToWideString(c.text);
    EXPECT_EQ(HasDocumentTypeDeclaration(std::wstring_view(wide)), c.found) << c.text;
  }
}

// The detail keeps where and what; advice that only the parser's caller
// could follow goes, in the wordings libxml2 has used.
TEST(NotWellFormedDetailTest, KeepsTheFactDropsTheAdvice) {
  const struct {
    int line;
    const char* message;
    const char* detail;
  } cases[] = {
      {3, "Excessive depth in document: 256 use XML_PARSE_HUGE option\n",
       " (line 3, column 7): Excessive depth in document: 256"},
      {3, "xmlParseElementChildrenContentDecl : depth 129 too deep, use XML_PARSE_HUGE\n",
       " (line 3, column 7): xmlParseElementChildrenContentDecl : depth 129 too deep"},
      {3, "Resource limit exceeded: Text node too long, try XML_PARSE_HUGE",
       " (line 3, column 7): Resource limit exceeded: Text node too long"},
      {3, "Maximum entity amplification factor exceeded, see xmlCtxtSetMaxAmplification.\n",
       " (line 3, column 7): Maximum entity amplification factor exceeded"},
      {3, "reuse of the xmlns namespace name is forbidden\n",
       " (line 3, column 7): reuse of the xmlns namespace name is forbidden"},
      {3, "use XML_PARSE_HUGE", " (line 3, column 7)"},
      {0, "Opening and ending tag mismatch: a line 2 and b\n",
       ": Opening and ending tag mismatch: a line 2 and b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NotWellFormedDetail(c.line, 7, c.message),
              std::string("document is not well-formed XML") + c.detail)
        << c.message;
  }
}

TEST(DomTest, LoadsUnicodeTextDespiteDeclaredEncoding) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(kDocument);
  ASSERT_FALSE(root.IsEmpty());
  EXPECT_EQ(root.GetName(), L"Interface");
  // The third value, reached without a positional predicate: MSXML's default
  // selection language (XSL Patterns) counts those from 0, XPath from 1.
  DomNodeList values = root.SelectNodes(L"//Interface/Response/Field/Field_Value");
  values.NextElement();
  values.NextElement();
  EXPECT_EQ(values.NextElement().GetText(), L"\u4e2d\u6587");
}

TEST(DomTest, DeclarationsWithWideCharactersAreCutCleanly) {
  DomDocument dom;
  for (const std::wstring text :
       {L"\uFEFF<?xml version=\"1.0\" encoding=\"GB2312\"?><a>\u00e9</a>",
        L"<?xml version=\"1.0\" encoding=\"\u4e2d\u6587\" standalone=\"yes\"?><a>\u00e9</a>"}) {
    EXPECT_EQ(dom.LoadXml(text).GetText(), L"\u00e9");
  }
}

// Loading received bytes directly must give what decoding them first gives.
TEST(DomTest, AnsiTextLoadsLikeItsDecodedForm) {
  const std::string texts[] = {
      "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<a> x <b>\xe4\xb8\xad</b></a>",
      "\xEF\xBB\xBF<?xml version='1.0' encoding='GB2312'?><a>y</a>",
      "<a>bad \xff\xe4\xb8 bytes</a>",
      "<a>cut",
      "",
      std::string("<a>\0</a>", 8),
      "<a/><b/>",
  };
  for (const std::string& text : texts) {
    DomDocument direct;
    DomDocument decoded;
    const DomNode from_bytes = direct.LoadAnsiXml(text);
    const DomNode from_wide = decoded.LoadXml(platform::AnsiToWideString(text));
    EXPECT_EQ(from_bytes.IsEmpty(), from_wide.IsEmpty()) << text;
    EXPECT_EQ(from_bytes.GetText(), from_wide.GetText()) << text;
  }
}

TEST(DomTest, TextsThatAreNoDocumentGiveAnEmptyRoot) {
  for (const std::wstring& text :
       {std::wstring(), std::wstring(L"not xml"), std::wstring(L"<a><b></a>"),
        std::wstring(L"<a/><b/>"), std::wstring(L"<?xml version=\"1.0\"?>"),
        std::wstring(L"<a>\0</a>", 8),
        // XML forbids references to external entities in attribute values.
        std::wstring(
            L"<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/hostname\">]><a b=\"&e;\"/>")}) {
    DomDocument dom;
    EXPECT_TRUE(dom.LoadXml(text).IsEmpty()) << text.size();
  }
}

TEST(DomTest, ReloadingReplacesTheDocument) {
  DomDocument dom;
  ASSERT_FALSE(dom.LoadXml(L"<a>1</a>").IsEmpty());
  EXPECT_TRUE(dom.LoadXml(L"<a>").IsEmpty());
  EXPECT_EQ(dom.LoadXml(L"<b>2</b>").GetText(), L"2");
}

TEST(DomTest, TextKeepsWhiteSpaceAndGathersDescendants) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(
      L"<r>\r\n <a> one </a><b>x<i> y </i><![CDATA[<z>]]>&amp;&#x4e2d;</b><c/><d>\t</d></r>");
  ASSERT_FALSE(root.IsEmpty());
  EXPECT_EQ(root.SelectSingleNode(L"/r/a").GetText(), L" one ");
  EXPECT_EQ(root.SelectSingleNode(L"/r/b").GetText(), L"x y <z>&\u4e2d");
  EXPECT_EQ(root.SelectSingleNode(L"/r/c").GetText(), L"");
  EXPECT_EQ(root.SelectSingleNode(L"/r/d").GetText(), L"\t");
  EXPECT_EQ(root.GetText(), L"\n  one x y <z>&\u4e2d\t");  // CR LF read as LF
}

TEST(DomTest, DoubleSlashPathsStartAtTheDocument) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(kDocument);
  const DomNode field = root.SelectSingleNode(L"//Interface/Response/Field");
  ASSERT_FALSE(field.IsEmpty());
  EXPECT_EQ(field.SelectSingleNode(L"//Interface/Response/Seq_No").GetText(), L"7");
  EXPECT_TRUE(root.SelectSingleNode(L"//Interface/Request/Seq_No").IsEmpty());
  EXPECT_TRUE(DomNode().SelectSingleNode(L"//Interface").IsEmpty());
  EXPECT_EQ(DomNode().GetText(), L"");
}

TEST(DomTest, NodeListWalksElementsInDocumentOrder) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(kDocument);
  DomNodeList list = root.SelectNodes(L"//Interface/Response/Field/Field_Value");
  ASSERT_FALSE(list.IsEmpty());
  EXPECT_EQ(list.NextElement().GetText(), L"x");
  EXPECT_EQ(list.NextElement().GetText(), L" y ");
  EXPECT_EQ(list.NextElement().GetText(), L"\u4e2d\u6587");
  EXPECT_TRUE(list.NextElement().IsEmpty());
  EXPECT_TRUE(list.NextElement().IsEmpty());
}

TEST(DomTest, NextElementSkipsOtherNodesAndAppliesTheFilter) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(L"<r>t<a>1</a> <b>2</b><a>3</a></r>");
  DomNodeList all = root.SelectNodes(L"/r/node()");
  EXPECT_EQ(all.NextElement().GetName(), L"a");
  EXPECT_EQ(all.NextElement().GetName(), L"b");
  EXPECT_EQ(all.NextElement().GetText(), L"3");
  EXPECT_TRUE(all.NextElement().IsEmpty());

  DomNodeList only_a = root.SelectNodes(L"/r/*");
  only_a.SetFilter(L"a");
  EXPECT_EQ(only_a.NextElement().GetText(), L"1");
  EXPECT_EQ(only_a.NextElement().GetText(), L"3");
  EXPECT_TRUE(only_a.NextElement().IsEmpty());
}

std::vector<std::wstring> TextsOf(DomNodeList list) {
  std::vector<std::wstring> texts;
  for (DomNode node = list.NextElement(); !node.IsEmpty(); node = list.NextElement()) {
    texts.push_back(node.GetText());
  }
  return texts;
}

const wchar_t kNested[] =
    L"<A><B><C>1</C><A><B><C>2</C><D><C>x</C></D></B></A><C>3</C></B>"
    L"<B><A><B><C>4</C></B></A></B><C>y</C></A>";
const wchar_t kRepeated[] = L"<A><A><A><B>1</B></A><B>2</B></A><B>3</B></A>";

// "//a/b/c" selects by the chain of parents, in document order, however the
// names nest or repeat.
TEST(DomTest, PlainPathsFollowNestingAndRepeatedNames) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(kNested);
  ASSERT_FALSE(root.IsEmpty());
  EXPECT_EQ(TextsOf(root.SelectNodes(L"//A/B/C")),
            (std::vector<std::wstring>{L"1", L"2", L"3", L"4"}));
  EXPECT_EQ(root.SelectSingleNode(L"//B/A/B/C").GetText(), L"2");
  EXPECT_TRUE(root.SelectSingleNode(L"//D/B").IsEmpty());
  // The context does not matter for paths that start with "//".
  EXPECT_EQ(root.SelectSingleNode(L"//D").SelectSingleNode(L"//A/B/C").GetText(), L"1");

  DomDocument other;
  const DomNode repeated = other.LoadXml(kRepeated);
  EXPECT_EQ(TextsOf(repeated.SelectNodes(L"//A/A/B")), (std::vector<std::wstring>{L"1", L"2"}));
  EXPECT_EQ(TextsOf(repeated.SelectNodes(L"//A/A/A/B")), (std::vector<std::wstring>{L"1"}));
}

#if !defined(_WIN32)
// Plain paths and the same paths spelled out with axes are the same XPath
// expressions and must select alike. (The Windows DOM's default selection
// language has no axes.)
TEST(DomTest, PlainPathsAgreeWithTheGeneralXPathEngine) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(kNested);
  EXPECT_EQ(TextsOf(root.SelectNodes(L"//A/B/C")),
            TextsOf(root.SelectNodes(L"/descendant-or-self::node()/child::A/B/C")));
  EXPECT_EQ(TextsOf(root.SelectNodes(L"//C")),
            TextsOf(root.SelectNodes(L"/descendant-or-self::node()/C")));
  DomDocument other;
  const DomNode repeated = other.LoadXml(kRepeated);
  EXPECT_EQ(TextsOf(repeated.SelectNodes(L"//A/A/B")),
            TextsOf(repeated.SelectNodes(L"/descendant-or-self::node()/A/A/B")));
}
#endif

// Receive threads load and read their answers at the same time.
TEST(DomTest, DocumentsLoadOnManyThreadsAtOnce) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < 100; ++i) {
        const std::wstring value = std::to_wstring(t * 1000 + i);
        DomDocument dom;
        const DomNode root = dom.LoadXml(L"<Interface><Response><Field><Field_Value>" + value +
                                         L"</Field_Value></Field></Response></Interface>");
        if (root.SelectSingleNode(L"//Interface/Response/Field/Field_Value").GetText() != value) {
          ++wrong;
        }
        DomDocument malformed;
        if (!malformed.LoadXml(L"<a>&undeclared;</a>").IsEmpty()) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST(DomTest, NodesOutliveTheirDocumentObject) {
  DomNode node;
  DomNodeList list;
  {
    DomDocument dom;
    const DomNode root = dom.LoadXml(kDocument);
    node = root.SelectSingleNode(L"//Seq_No");
    list = root.SelectNodes(L"//Field_Value");
    dom.LoadXml(L"<other/>");
  }
  EXPECT_EQ(node.GetText(), L"7");
  EXPECT_EQ(list.NextElement().GetText(), L"x");
}

// The DOM itself expands the entities a document declares (interface
// messages refuse document types before the DOM sees them).
TEST(DomTest, EntitiesOfTheInternalSubsetAreExpanded) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(
      L"<!DOCTYPE r [\n<!ENTITY who \"alice\">\n<!ENTITY greeting \"hello &who;\">\n]>\n"
      L"<r><v>&greeting;!</v></r>");
  EXPECT_EQ(root.SelectSingleNode(L"//r/v").GetText(), L"hello alice!");
}

// An entity may hold elements; its references stand for them.
TEST(DomTest, ElementsOfAnEntityAreFound) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine's DOM keeps entity references as nodes of their own, and its path "
                    "engine (libxml2's XPath) does not look inside them";
  }
  DomDocument dom;
  const DomNode root =
      dom.LoadXml(L"<!DOCTYPE r [<!ENTITY extra \"<v>x</v>\">]><r><f><v>v</v>\n&extra;</f></r>");
  EXPECT_EQ(TextsOf(root.SelectNodes(L"//r/f/v")), (std::vector<std::wstring>{L"v", L"x"}));
}

TEST(DomTest, NothingExternalIsResolved) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(
      L"<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>"
      L"<r>a&e;b</r>");
  ASSERT_FALSE(root.IsEmpty());
  const std::wstring text = root.GetText();
  EXPECT_EQ(text.substr(0, 1), L"a");
  EXPECT_EQ(text.substr(text.size() - 1), L"b");
  EXPECT_LE(text.size(), 5u);  // at most the unexpanded reference
}

#if !defined(_WIN32)
TEST(DomTest, FailingCallsRaiseDomErrorWithItsCode) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(kDocument);
  try {
    root.SelectSingleNode(L"//[");
    FAIL() << "an invalid path must raise";
  } catch (const DomError& error) {
    EXPECT_EQ(error.Error(), kDomErrorFail);
  }
  try {
    DomNode().SelectNodes(L"//a");
    FAIL() << "selecting from the empty node must raise";
  } catch (const DomError& error) {
    EXPECT_EQ(error.Error(), kDomErrorPointer);
  }
  DomNodeList none;
  EXPECT_THROW(none.NextElement(), DomError);
}
#endif

}  // namespace
}  // namespace voicecontrol
