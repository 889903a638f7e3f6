#include <voicecontrol/presence/xmlobject.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace voicecontrol {
namespace {

constexpr char kRlmiNs[] = "urn:ietf:params:xml:ns:rlmi";

std::unique_ptr<XmlNode> Element(const char* text) {
  return std::unique_ptr<XmlNode>(XmlParser::Parse(text));
}

// A document class as a user of the base would write one.
class RlmiDocument : public XmlObject {
 public:
  RlmiDocument() : XmlObject(XmlKindRlmi) {}
};

TEST(XmlObjectTest, HeadingFollowsTheKind) {
  XmlObject pidf(XmlKindPidf);
  EXPECT_STREQ(pidf.GetErrorText(), "");
  pidf.SetError("code %d, %s.", 7, "bad");
  EXPECT_STREQ(pidf.GetErrorText(), "PIDFXml Error: code 7, bad.");
  XmlObject odd(7);
  odd.SetError("x");
  EXPECT_STREQ(odd.GetErrorText(), "WatcherInfoXml Error: x");
  XmlObject watchers(XmlKindWatcherInfo);
  watchers.SetError("y");
  EXPECT_STREQ(watchers.GetErrorText(), "WatcherInfoXml Error: y");
}

TEST(XmlObjectTest, OverlongErrorIsCut) {
  XmlObject object(XmlKindRlmi);
  const std::string huge(5000, 'e');
  object.SetError("%s", huge.c_str());
  const std::string text = object.GetErrorText();
  EXPECT_EQ(text.size(), static_cast<size_t>(XmlObject::kErrorTextSize - 1));
  EXPECT_EQ(text.substr(0, 16), "RLMIXml Error: e");
  // The old text may be an argument of the new one.
  object.SetError("again: %.20s", object.GetErrorText());
  EXPECT_STREQ(object.GetErrorText(), "RLMIXml Error: again: RLMIXml Error: eeeee");
}

TEST(XmlObjectTest, CheckNamespaceFindsDefaultAndPrefixedDeclarations) {
  RlmiDocument document;
  std::string prefix = "stale";
  auto plain = Element("<list xmlns='urn:ietf:params:xml:ns:rlmi'/>");
  EXPECT_EQ(document.CheckNamespace(plain.get(), kRlmiNs, prefix), 1);
  EXPECT_EQ(prefix, "");

  auto prefixed = Element(
      "<rl:list xmlns='urn:other' xmlns:cp='urn:x' xmlns:rl='urn:ietf:params:xml:ns:rlmi'/>");
  EXPECT_EQ(document.CheckNamespace(prefixed.get(), kRlmiNs, prefix), 1);
  EXPECT_EQ(prefix, "rl");
  EXPECT_STREQ(document.GetErrorText(), "");
  EXPECT_EQ(XmlObject::CountNamespaceDecls(prefixed.get()), 3);

  // Prefixes longer than the object's own buffer are still reported whole.
  const std::string long_prefix(40, 'p');
  auto long_one = Element(("<e xmlns:" + long_prefix + "='urn:ietf:params:xml:ns:rlmi'/>").c_str());
  EXPECT_EQ(document.CheckNamespace(long_one.get(), kRlmiNs, prefix), 1);
  EXPECT_EQ(prefix, long_prefix);
}

TEST(XmlObjectTest, CheckNamespaceFailures) {
  RlmiDocument document;
  std::string prefix = "stale";
  auto other = Element("<list xmlns:rl='urn:other' id='x'/>");
  EXPECT_EQ(document.CheckNamespace(other.get(), kRlmiNs, prefix), 0);
  EXPECT_EQ(prefix, "");
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: No xml namespace of <list> element.");

  auto misspelt = Element("<list xmlnsfoo='urn:ietf:params:xml:ns:rlmi'/>");
  EXPECT_EQ(document.CheckNamespace(misspelt.get(), kRlmiNs, prefix), 0);
  EXPECT_STREQ(document.GetErrorText(),
               "RLMIXml Error: Invalid attr 'xmlnsfoo' of <list> element.");

  auto empty_prefix = Element("<list xmlns:='urn:ietf:params:xml:ns:rlmi'/>");
  EXPECT_EQ(document.CheckNamespace(empty_prefix.get(), kRlmiNs, prefix), 0);
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: Invalid attr 'xmlns:' of <list> element.");

  // The prefix test is case-sensitive: XMLNS is an ordinary attribute.
  auto upper = Element("<list XMLNS='urn:ietf:params:xml:ns:rlmi'/>");
  EXPECT_EQ(document.CheckNamespace(upper.get(), kRlmiNs, prefix), 0);
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: No xml namespace of <list> element.");
}

TEST(XmlObjectTest, DeclarationWithoutValueEndsTheSearchSilently) {
  RlmiDocument document;
  std::string prefix;
  XmlNode element;
  element.SetName("list");
  XmlAttr* bare = new XmlAttr;
  bare->SetName("xmlns:a");
  element.AppendAttr(bare);
  element.AddAttr("xmlns", kRlmiNs);
  EXPECT_EQ(document.CheckNamespace(&element, kRlmiNs, prefix), 0);
  EXPECT_STREQ(document.GetErrorText(), "");
}

TEST(XmlObjectTest, CountNamespaceDecls) {
  auto element = Element("<e xmlns='a' xmlns:a='b' xmlnsb='c' XMLNS:c='d' x='xmlns'/>");
  EXPECT_EQ(XmlObject::CountNamespaceDecls(element.get()), 2);
  auto none = Element("<e/>");
  EXPECT_EQ(XmlObject::CountNamespaceDecls(none.get()), 0);
}

TEST(XmlObjectTest, IntegerCheck) {
  RlmiDocument document;
  auto element = Element(
      "<list five='5' spaced=' 12 3' bad='12a' empty='' neg='-1'"
      " huge='99999999999999999999'/>");
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "five", XmlCheckInteger, 1, 3), nullptr);
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: Invalid attr 'five' of <list> element.");
  EXPECT_STREQ(document.GetCheckedAttr(element.get(), "five", XmlCheckInteger, 1, -1), "5");
  EXPECT_STREQ(document.GetCheckedAttr(element.get(), "FIVE", XmlCheckInteger, 5, 5), "5");
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "five", XmlCheckInteger, 6, -1), nullptr);
  // Read up to the first non-digit after leading spaces: 12.
  EXPECT_STREQ(document.GetCheckedAttr(element.get(), "spaced", XmlCheckInteger, 12, 12), " 12 3");
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "bad", XmlCheckInteger, -1, -1), nullptr);
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "neg", XmlCheckInteger, -1, -1), nullptr);
  EXPECT_STREQ(document.GetCheckedAttr(element.get(), "empty", XmlCheckInteger, 0, 0), "");
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "empty", XmlCheckInteger, 1, -1), nullptr);
  // Beyond the range of int: passes without bounds, above any maximum.
  EXPECT_NE(document.GetCheckedAttr(element.get(), "huge", XmlCheckInteger, -1, -1), nullptr);
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "huge", XmlCheckInteger, -1, 2147483647),
            nullptr);
}

TEST(XmlObjectTest, BooleanAndTextChecks) {
  RlmiDocument document;
  auto element = Element("<list a='TRUE' b='True' c='false' d='' />");
  EXPECT_STREQ(document.GetCheckedAttr(element.get(), "a", XmlCheckBoolean, -1, -1), "TRUE");
  EXPECT_STREQ(document.GetCheckedAttr(element.get(), "c", XmlCheckBoolean, -1, -1), "false");
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "b", XmlCheckBoolean, -1, -1), nullptr);
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: Invalid attr 'b' of <list> element.");
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "d", XmlCheckBoolean, -1, -1), nullptr);
  EXPECT_STREQ(document.GetCheckedAttr(element.get(), "b", XmlCheckText, -1, -1), "True");
  // Any other check value is the text check.
  EXPECT_STREQ(document.GetCheckedAttr(element.get(), "b", static_cast<XmlAttrCheck>(9), 5, 5),
               "True");
}

TEST(XmlObjectTest, MissingAndValuelessAttributes) {
  RlmiDocument document;
  auto element = Element("<list/>");
  EXPECT_EQ(document.GetCheckedAttr(element.get(), "Version", XmlCheckText, -1, -1), nullptr);
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: No attr 'Version' of <list>.");

  XmlNode bare;
  bare.SetName("e");
  XmlAttr* attr = new XmlAttr;
  attr->SetName("v");
  bare.AppendAttr(attr);
  EXPECT_EQ(document.GetCheckedAttr(&bare, "v", XmlCheckText, -1, -1), nullptr);
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: No attr 'Version' of <list>.");  // kept
  EXPECT_EQ(document.GetCheckedAttr(&bare, "v", XmlCheckInteger, -1, -1), nullptr);
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: Invalid attr 'v' of <e> element.");
  // A later success does not clear the error text.
  auto good = Element("<e v='1'/>");
  EXPECT_STREQ(document.GetCheckedAttr(good.get(), "v", XmlCheckInteger, -1, -1), "1");
  EXPECT_STREQ(document.GetErrorText(), "RLMIXml Error: Invalid attr 'v' of <e> element.");
}

TEST(XmlObjectTest, PrefixAndQualifiedNames) {
  RlmiDocument document;
  std::string name = "list";
  EXPECT_EQ(document.QualifyName(name), "list");  // empty prefix
  document.SetPrefix("rl");
  EXPECT_STREQ(document.GetPrefix(), "rl");
  EXPECT_EQ(&document.QualifyName(name), &name);
  EXPECT_EQ(name, "rl:list");
  std::string other = "resource";
  EXPECT_EQ(XmlObject::QualifyName(other, "x"), "x:resource");
  EXPECT_EQ(XmlObject::QualifyName(other, ""), "x:resource");
  document.SetPrefix(std::string(40, 'p').c_str());
  EXPECT_EQ(std::string(document.GetPrefix()), std::string(31, 'p'));
}

TEST(XmlObjectTest, IsDigitsOrSpaces) {
  EXPECT_EQ(XmlObject::IsDigitsOrSpaces(""), 1);
  EXPECT_EQ(XmlObject::IsDigitsOrSpaces(" 0123 456789 "), 1);
  EXPECT_EQ(XmlObject::IsDigitsOrSpaces("1\t2"), 0);
  EXPECT_EQ(XmlObject::IsDigitsOrSpaces("+1"), 0);
}

TEST(SipUriTest, IsSipUri) {
  EXPECT_EQ(IsSipUri("sip:alice@example.com"), 1);
  EXPECT_EQ(IsSipUri("sip:a@"), 1);
  EXPECT_EQ(IsSipUri("sip:@example.com"), 0);
  EXPECT_EQ(IsSipUri("sips:alice@example.com"), 0);
  EXPECT_EQ(IsSipUri("SIP:alice@example.com"), 0);
  EXPECT_EQ(IsSipUri("sip:alice"), 0);
  EXPECT_EQ(IsSipUri("sip:"), 0);
  EXPECT_EQ(IsSipUri(nullptr), 0);
}

TEST(SipUriTest, SplitSipUri) {
  std::string user = "u";
  std::string host = "h";
  EXPECT_EQ(SplitSipUri("sip:bob@", user, host), 1);
  EXPECT_EQ(user, "bob");
  EXPECT_EQ(host, "");
  EXPECT_EQ(SplitSipUri("sip:bob@host.example:5060;transport=tcp@x", user, host), 1);
  EXPECT_EQ(user, "bob");
  EXPECT_EQ(host, "host.example:5060;transport=tcp@x");
  EXPECT_EQ(SplitSipUri("sip:@host", user, host), 0);
  EXPECT_EQ(user, "bob");  // untouched on failure
  EXPECT_EQ(host, "host.example:5060;transport=tcp@x");
}

TEST(AppendFormatTest, AppendsWithoutALengthLimit) {
  std::string text = "a";
  AppendFormat(text, "-%d-%s", 42, "b");
  EXPECT_EQ(text, "a-42-b");
  AppendFormat(text, "%s", "");
  EXPECT_EQ(text, "a-42-b");
  const std::string big(10000, 'z');
  AppendFormat(text, "%s!", big.c_str());
  EXPECT_EQ(text.size(), 6u + 10001u);
}

}  // namespace
}  // namespace voicecontrol
