#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <voicecontrol/xml/xml.h>

namespace voicecontrol {
namespace {

XmlNode* NewElement(const char* name) {
  XmlNode* node = new XmlNode;
  node->SetName(name);
  return node;
}

// Names of the children of `node`, e.g. "a,b,c".
std::string ChildNames(const XmlNode& node) {
  std::string names;
  for (const XmlNode* child = node.GetFirstChild(); child; child = child->GetNextSibling()) {
    if (!names.empty()) names += ",";
    names += child->GetName();
    EXPECT_EQ(child->GetParent(), &node);
  }
  return names;
}

std::string AttrList(const XmlNode& node) {
  std::string list;
  for (const XmlAttr* attr = node.GetFirstAttr(); attr; attr = attr->GetNext()) {
    if (!list.empty()) list += ",";
    list += std::string(attr->GetName()) + "=" + (attr->GetValue() ? attr->GetValue() : "(null)");
  }
  return list;
}

// root with children a, b, c.
std::unique_ptr<XmlNode> ThreeChildren() {
  std::unique_ptr<XmlNode> root(NewElement("root"));
  for (const char* name : {"a", "b", "c"}) root->AddChild(NewElement(name), 1);
  return root;
}

TEST(XmlTreeTest, NewElementIsEmpty) {
  XmlNode node;
  EXPECT_STREQ(node.GetName(), "");
  EXPECT_EQ(node.GetText(), nullptr);
  EXPECT_EQ(node.GetLine(), 0);
  EXPECT_EQ(node.GetParent(), nullptr);
  EXPECT_EQ(node.GetChildCount(), 0);
  EXPECT_EQ(node.GetAttrCount(), 0);
  EXPECT_EQ(node.GetChild(0), nullptr);
  EXPECT_EQ(node.GetAttr(0), nullptr);
  XmlAttr attr;
  EXPECT_STREQ(attr.GetName(), "");
  EXPECT_EQ(attr.GetValue(), nullptr);
}

TEST(XmlTreeTest, NamesAreCutAt64Characters) {
  XmlNode node;
  node.SetName(std::string(70, 'n').c_str());
  EXPECT_EQ(std::string(node.GetName()), std::string(64, 'n'));
  XmlAttr attr;
  attr.SetName(std::string(65, 'a').c_str());
  EXPECT_EQ(std::string(attr.GetName()), std::string(64, 'a'));
  node.SetName(nullptr);
  EXPECT_STREQ(node.GetName(), "");
}

TEST(XmlTreeTest, TextAndValueAreOwnedCopies) {
  XmlNode node;
  std::string text = "first";
  node.SetText(text.c_str());
  text[0] = 'X';
  EXPECT_STREQ(node.GetText(), "first");
  node.SetText("");
  EXPECT_STREQ(node.GetText(), "");
}

TEST(XmlTreeTest, AttributeCaseRules) {
  XmlNode node;
  node.AddAttr("a", "1");
  node.AddAttr("a", "2");
  EXPECT_EQ(AttrList(node), "a=1,a=2");
  node.SetAttr("a", "3");  // exact name: changes the first only
  EXPECT_EQ(AttrList(node), "a=3,a=2");
  node.SetAttr("A", "4");  // no exact match: appended
  EXPECT_EQ(AttrList(node), "a=3,a=2,A=4");
  EXPECT_EQ(node.FindAttr("A"), node.GetAttr(0));  // lookups ignore case
  EXPECT_STREQ(node.GetAttrValue("A"), "3");
  EXPECT_EQ(node.GetAttrValue("missing"), nullptr);
  EXPECT_EQ(node.FindAttr(nullptr), nullptr);
  EXPECT_EQ(node.GetAttrCount(), 3);
  EXPECT_STREQ(node.GetAttr(2)->GetName(), "A");
  EXPECT_EQ(node.GetAttr(3), nullptr);
  EXPECT_EQ(node.GetAttr(-1), nullptr);
}

TEST(XmlTreeTest, NullNameOrValueAddsNothing) {
  XmlNode node;
  node.AddAttr(nullptr, "v");
  node.AddAttr("n", nullptr);
  node.SetAttr(nullptr, "v");
  node.SetAttr("n", nullptr);
  EXPECT_EQ(node.GetAttrCount(), 0);
}

TEST(XmlTreeTest, AppendAttrTakesTheWholeChain) {
  XmlNode node;
  node.AddAttr("x", "1");
  XmlAttr* first = new XmlAttr;
  first->SetName("y");
  first->SetValue("2");
  node.AppendAttr(first);
  node.AddAttr("z", "3");
  EXPECT_EQ(AttrList(node), "x=1,y=2,z=3");
}

TEST(XmlTreeTest, AddChildModes) {
  std::unique_ptr<XmlNode> root = ThreeChildren();
  root->AddChild(NewElement("first"), 0);
  root->AddChild(NewElement("last"), 1);
  root->AddChild(NewElement("front"), 7);  // any mode but 1 prepends
  EXPECT_EQ(ChildNames(*root), "front,first,a,b,c,last");
  EXPECT_EQ(root->GetChildCount(), 6);
}

TEST(XmlTreeTest, ChildLookups) {
  std::unique_ptr<XmlNode> root = ThreeChildren();
  root->AddChild(NewElement("B"), 1);
  root->GetChild(1)->SetAttr("id", "one");
  root->GetChild(3)->SetAttr("ID", "two");
  EXPECT_EQ(root->CountChildren("b"), 2);
  EXPECT_EQ(root->CountChildren(nullptr), 0);
  EXPECT_EQ(root->FindChild("B"), root->GetChild(1));
  EXPECT_EQ(root->FindChild("b", 1), root->GetChild(3));
  EXPECT_EQ(root->FindChild("b", 2), nullptr);
  EXPECT_EQ(root->FindChild(nullptr), nullptr);
  EXPECT_EQ(root->GetChild(4), nullptr);
  EXPECT_EQ(root->GetChild(-1), nullptr);

  // Names ignore case, attribute values do not; a null name matches any child.
  EXPECT_EQ(root->FindChildByAttr("b", "id", "two"), root->GetChild(3));
  EXPECT_EQ(root->FindChildByAttr("b", "id", "TWO"), nullptr);
  EXPECT_EQ(root->FindChildByAttr(nullptr, "Id", "one"), root->GetChild(1));
  EXPECT_EQ(root->FindChildByAttr("c", "id", "one"), nullptr);
  EXPECT_EQ(root->FindChildByAttr("b", "id", nullptr), nullptr);
}

TEST(XmlTreeTest, GetChildNameHonoursCapacity) {
  std::unique_ptr<XmlNode> root = ThreeChildren();
  root->GetChild(1)->SetName("longer");
  char buffer[65] = "junk";
  EXPECT_EQ(root->GetChildName(1, buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "longer");
  EXPECT_EQ(root->GetChildName(9, buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "");
  char small[4];
  root->GetChildName(1, small, sizeof(small));
  EXPECT_STREQ(small, "lon");
}

TEST(XmlTreeTest, InsertSibling) {
  std::unique_ptr<XmlNode> root = ThreeChildren();
  root->GetChild(2)->InsertSibling(NewElement("after_c"), 1);
  root->GetChild(0)->InsertSibling(NewElement("before_a"), 0);
  root->GetChild(2)->InsertSibling(NewElement("before_b"), 0);
  root->GetChild(0)->InsertSibling(NewElement("after_before_a"), 1);
  EXPECT_EQ(ChildNames(*root), "before_a,after_before_a,a,before_b,b,c,after_c");
}

TEST(XmlTreeTest, InsertSiblingBeforeARootLeavesTheElementWithTheCaller) {
  XmlNode root;
#ifdef NDEBUG
  std::unique_ptr<XmlNode> element(NewElement("e"));
  root.InsertSibling(element.get(), 0);
  EXPECT_EQ(element->GetParent(), nullptr);
  EXPECT_EQ(element->GetNextSibling(), nullptr);
#else
  EXPECT_DEATH(root.InsertSibling(NewElement("e"), 0), "parent");
#endif
}

TEST(XmlTreeTest, RemoveChild) {
  XmlNode empty;
  XmlNode stranger;
  EXPECT_EQ(empty.RemoveChild(&stranger), -2);

  std::unique_ptr<XmlNode> root = ThreeChildren();
  root->AddChild(NewElement("d"), 1);
  root->GetChild(2)->AddChild(NewElement("grandchild"), 1);
  EXPECT_EQ(root->RemoveChild(&stranger), -3);
  EXPECT_EQ(root->RemoveChild(root->GetChild(2)), 2);  // c and its subtree
  EXPECT_EQ(ChildNames(*root), "a,b,d");
  EXPECT_EQ(root->RemoveChild(root->GetChild(0)), 0);
  EXPECT_EQ(root->RemoveChild(root->GetChild(1)), 1);
  EXPECT_EQ(ChildNames(*root), "b");
  EXPECT_EQ(root->RemoveChild(root->GetChild(0)), 0);
  EXPECT_EQ(root->GetFirstChild(), nullptr);
}

TEST(XmlTreeTest, CloneIsDeepAndIndependent) {
  std::unique_ptr<XmlNode> source = ThreeChildren();
  source->SetText("t");
  source->AddAttr("x", "1");
  source->AddAttr("y", "2");
  source->GetChild(1)->AddChild(NewElement("deep"), 1);
  source->GetChild(1)->GetChild(0)->SetText("leaf");
  XmlNode holder;

  std::unique_ptr<XmlNode> copy(source->GetChild(1)->Clone(&holder));
  EXPECT_EQ(copy->GetParent(), &holder);
  EXPECT_EQ(holder.GetChildCount(), 0);  // not linked into the new parent
  EXPECT_EQ(copy->GetText(), nullptr);   // a null text stays null
  EXPECT_STREQ(copy->GetChild(0)->GetText(), "leaf");
  EXPECT_EQ(copy->GetChild(0)->GetParent(), copy.get());

  std::unique_ptr<XmlNode> whole(source->Clone(nullptr));
  EXPECT_EQ(whole->ToString(), source->ToString());
  EXPECT_EQ(AttrList(*whole), "x=1,y=2");
  EXPECT_EQ(ChildNames(*whole), "a,b,c");
  EXPECT_NE(whole->GetChild(0), source->GetChild(0));
  EXPECT_NE(whole->GetAttr(0), source->GetAttr(0));

  const std::string before = source->ToString();
  whole.reset();
  copy.reset();
  EXPECT_EQ(source->ToString(), before);
}

TEST(XmlTreeTest, AttrCloneCopiesTheRestOfTheList) {
  XmlNode node;
  node.AddAttr("a", "1");
  node.AddAttr("b", "2");
  node.AppendAttr(new XmlAttr);  // name "" and no value
  std::unique_ptr<XmlAttr> copy(node.GetAttr(1)->Clone());
  EXPECT_STREQ(copy->GetName(), "b");
  EXPECT_STREQ(copy->GetValue(), "2");
  ASSERT_NE(copy->GetNext(), nullptr);
  EXPECT_EQ(copy->GetNext()->GetValue(), nullptr);
  EXPECT_EQ(copy->GetNext()->GetNext(), nullptr);
}

TEST(XmlTreeTest, VeryDeepTreesNeedNoCallStack) {
  // Built by hand, beyond what the parser accepts: destruction, copying and
  // output must not recurse once per level.
  constexpr int kDepth = 200000;
  std::unique_ptr<XmlNode> root(NewElement("r"));
  XmlNode* tip = root.get();
  for (int i = 0; i < kDepth; ++i) {
    XmlNode* child = NewElement("d");
    tip->AddChild(child, 0);
    tip = child;
  }
  std::unique_ptr<XmlNode> copy(root->Clone(nullptr));
  const std::string text = copy->ToString();
  EXPECT_EQ(text.size(), 7u + kDepth * 7u);
  EXPECT_EQ(text.substr(0, 10), "<r><d><d><");
}

// A parsed tree keeps its elements in memory of its own; editing it with heap
// elements, texts and values, and nesting parsed trees in each other, must
// release everything exactly once (the test run checks leaks and reuse).
TEST(XmlTreeTest, ParsedAndBuiltElementsMix) {
  std::unique_ptr<XmlNode> parsed(XmlParser::Parse("<a x='1'><b y='2'>t<c/></b><d/></a>"));
  parsed->SetText("new text");
  parsed->SetAttr("x", "changed");
  parsed->AddAttr("z", "added");
  parsed->GetChild(0)->GetAttr(0)->SetValue("v");
  parsed->GetChild(0)->AddChild(NewElement("built"), 1);
  parsed->GetChild(0)->GetChild(1)->SetText("built text");
  EXPECT_EQ(parsed->ToString(),
            "<a x=\"changed\" z=\"added\">new text<b y=\"v\">t<c></c><built>built text</built></b>"
            "<d></d></a>");

  // Another parsed tree as a child, then removed again; and one left inside.
  XmlNode* inner = XmlParser::Parse("<i><j k='l'>m</j></i>");
  parsed->AddChild(inner, 1);
  parsed->AddChild(XmlParser::Parse("<p><q/></p>"), 0);
  EXPECT_EQ(parsed->RemoveChild(inner), 3);
  EXPECT_EQ(parsed->RemoveChild(parsed->GetChild(1)), 1);  // b, a parsed subtree
  EXPECT_EQ(parsed->ToString(), "<a x=\"changed\" z=\"added\">new text<p><q></q></p><d></d></a>");

  // A built tree holding a parsed one.
  std::unique_ptr<XmlNode> holder(NewElement("holder"));
  holder->AddChild(XmlParser::Parse("<r><s><t/></s></r>"), 1);
  holder->GetChild(0)->AddChild(NewElement("u"), 1);
  EXPECT_EQ(holder->ToString(), "<holder><r><s><t></t></s><u></u></r></holder>");
  std::unique_ptr<XmlNode> copy(parsed->Clone(nullptr));
  parsed.reset();
  EXPECT_EQ(copy->ToString(), "<a x=\"changed\" z=\"added\">new text<p><q></q></p><d></d></a>");
}

}  // namespace
}  // namespace voicecontrol
