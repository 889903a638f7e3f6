// XmlNode and XmlAttr: ownership, navigation, search, building and copying.
//
// Children and attributes are singly linked lists. Destruction and copying
// walk the tree with loops and explicit stacks rather than recursion, so a
// tree built by hand to any depth or width never exhausts the call stack.

#include <cassert>
#include <cstring>
#include <memory>
#include <vector>

#include <voicecontrol/xml/xml.h>
#include "http/text_scan.h"
#include "xml/xml_arena.h"

namespace voicecontrol {

namespace {

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (LowerAscii(*a) != LowerAscii(*b)) return false;
  }
  return *a == *b;
}

char* CopyText(const char* text) {
  const size_t size = std::strlen(text) + 1;
  char* copy = new char[size];
  std::memcpy(copy, text, size);
  return copy;
}

void SetInlineName(char* name, const char* newName) {
  CopyBounded(name, newName != nullptr ? newName : "", kXmlMaxNameLength + 1);
}

}  // namespace

// ---- memory ----

static_assert(alignof(XmlNode) <= xml_memory::kHeaderSize && alignof(XmlAttr) <= xml_memory::kHeaderSize,
              "the header in front of an object keeps it aligned");

void* XmlAttr::operator new(std::size_t size) { return xml_memory::AllocateOnHeap(size); }

void* XmlAttr::operator new(std::size_t size, XmlArena& arena) {
  return xml_memory::AllocateInArena(arena, size, false);
}

void XmlAttr::operator delete(void* object, std::size_t size) noexcept {
  xml_memory::Release(object, size);
}

void XmlAttr::operator delete(void* object, XmlArena&) noexcept {
  xml_memory::Release(object, sizeof(XmlAttr));
}

void* XmlNode::operator new(std::size_t size) { return xml_memory::AllocateOnHeap(size); }

void* XmlNode::operator new(std::size_t size, XmlArena& arena, bool ownsArena) {
  return xml_memory::AllocateInArena(arena, size, ownsArena);
}

void XmlNode::operator delete(void* object, std::size_t size) noexcept {
  xml_memory::Release(object, size);
}

void XmlNode::operator delete(void* object, XmlArena&, bool) noexcept {
  xml_memory::Release(object, sizeof(XmlNode));
}

// ---- XmlAttr ----

XmlAttr::~XmlAttr() {
  // Unlink the rest of the list one by one, so a long list does not nest
  // one destructor call per attribute.
  XmlAttr* rest = next;
  while (rest != nullptr) {
    XmlAttr* after = rest->next;
    rest->next = nullptr;
    delete rest;
    rest = after;
  }
  ReleaseValue();
}

void XmlAttr::ReleaseValue() {
  if (!valueInArena) delete[] value;
  value = nullptr;
  valueInArena = false;
}

void XmlAttr::SetName(const char* newName) { SetInlineName(name, newName); }

void XmlAttr::SetValue(const char* newValue) {
  assert(newValue != nullptr);
  if (newValue == nullptr) return;
  char* copy = CopyText(newValue);
  ReleaseValue();
  value = copy;
  if (inArena) xml_memory::NoteForeignAttachment(this);
}

XmlAttr* XmlAttr::Clone() const {
  XmlAttr* first = nullptr;
  XmlAttr** link = &first;
  for (const XmlAttr* source = this; source != nullptr; source = source->next) {
    XmlAttr* copy = new XmlAttr;
    *link = copy;  // linked at once, so an allocation failure leaks nothing
    link = &copy->next;
    std::memcpy(copy->name, source->name, sizeof(copy->name));
    copy->line = source->line;
    if (source->value != nullptr) copy->value = CopyText(source->value);
  }
  return first;
}

// ---- XmlNode: lifetime and plain fields ----

XmlNode::~XmlNode() {
  // A parsed tree that nothing from outside was attached to holds nothing
  // but memory of its arena, which goes as a whole with this root.
  if (inArena && xml_memory::OwnsArena(this) && !xml_memory::ArenaOf(this)->HoldsForeign()) {
    return;
  }
  // Destroy the subtree without recursion: before an element is deleted its
  // children are spliced into the list still to be deleted, so every
  // destructor called from here finds no children of its own. A parsed root
  // that was added as a child keeps its subtree, which lives in its arena and
  // must go before the arena does.
  XmlNode* pending = firstChild;
  while (pending != nullptr) {
    XmlNode* node = pending;
    pending = node->nextSibling;
    if (node->firstChild != nullptr && !xml_memory::OwnsArena(node)) {
      XmlNode* last = node->firstChild;
      while (last->nextSibling != nullptr) last = last->nextSibling;
      last->nextSibling = pending;
      pending = node->firstChild;
      node->firstChild = nullptr;
    }
    delete node;
  }
  delete firstAttr;
  ReleaseText();
}

void XmlNode::ReleaseText() {
  if (!textInArena) delete[] text;
  text = nullptr;
  textInArena = false;
}

void XmlNode::SetName(const char* newName) { SetInlineName(name, newName); }

void XmlNode::SetText(const char* newText) {
  assert(newText != nullptr);
  if (newText == nullptr) return;
  char* copy = CopyText(newText);
  ReleaseText();
  text = copy;
  if (inArena) xml_memory::NoteForeignAttachment(this);
}

void XmlNode::SetParsedName(const char* newName, size_t length) {
  std::memcpy(name, newName, length);
  name[length] = '\0';
}

// ---- XmlNode: attributes ----

XmlAttr* XmlNode::LastAttr() const {
  XmlAttr* attr = firstAttr;
  while (attr != nullptr && attr->next != nullptr) attr = attr->next;
  return attr;
}

int XmlNode::GetAttrCount() const {
  int count = 0;
  for (const XmlAttr* attr = firstAttr; attr != nullptr; attr = attr->next) ++count;
  return count;
}

const XmlAttr* XmlNode::GetAttr(int index) const {
  if (index < 0) return nullptr;
  const XmlAttr* attr = firstAttr;
  for (; attr != nullptr && index > 0; --index) attr = attr->next;
  return attr;
}

XmlAttr* XmlNode::GetAttr(int index) {
  return const_cast<XmlAttr*>(static_cast<const XmlNode*>(this)->GetAttr(index));
}

const XmlAttr* XmlNode::FindAttr(const char* attrName) const {
  if (attrName == nullptr) return nullptr;
  for (const XmlAttr* attr = firstAttr; attr != nullptr; attr = attr->next) {
    if (EqualsIgnoringAsciiCase(attr->name, attrName)) return attr;
  }
  return nullptr;
}

XmlAttr* XmlNode::FindAttr(const char* attrName) {
  return const_cast<XmlAttr*>(static_cast<const XmlNode*>(this)->FindAttr(attrName));
}

const char* XmlNode::GetAttrValue(const char* attrName) const {
  const XmlAttr* attr = FindAttr(attrName);
  return attr != nullptr ? attr->GetValue() : nullptr;
}

void XmlNode::SetAttr(const char* attrName, const char* attrValue) {
  if (attrName == nullptr || attrValue == nullptr) return;
  for (XmlAttr* attr = firstAttr; attr != nullptr; attr = attr->next) {
    if (std::strcmp(attr->name, attrName) == 0) {
      attr->SetValue(attrValue);
      return;
    }
  }
  AddAttr(attrName, attrValue);
}

void XmlNode::AddAttr(const char* attrName, const char* attrValue) {
  if (attrName == nullptr || attrValue == nullptr) return;
  std::unique_ptr<XmlAttr> attr(new XmlAttr);
  attr->SetName(attrName);
  attr->SetValue(attrValue);
  AppendAttr(attr.release());
}

void XmlNode::AppendAttr(XmlAttr* attr) {
  assert(attr != nullptr);
  if (attr == nullptr) return;
  if (inArena) xml_memory::NoteForeignAttachment(this);
  XmlAttr* last = LastAttr();
  if (last == nullptr) {
    firstAttr = attr;
  } else {
    last->next = attr;
  }
}

// ---- XmlNode: children ----

XmlNode* XmlNode::LastChild() const {
  XmlNode* child = firstChild;
  while (child != nullptr && child->nextSibling != nullptr) child = child->nextSibling;
  return child;
}

int XmlNode::GetChildCount() const {
  int count = 0;
  for (const XmlNode* child = firstChild; child != nullptr; child = child->nextSibling) ++count;
  return count;
}

int XmlNode::CountChildren(const char* childName) const {
  if (childName == nullptr) return 0;
  int count = 0;
  for (const XmlNode* child = firstChild; child != nullptr; child = child->nextSibling) {
    if (EqualsIgnoringAsciiCase(child->name, childName)) ++count;
  }
  return count;
}

const XmlNode* XmlNode::GetChild(int index) const {
  if (index < 0) return nullptr;
  const XmlNode* child = firstChild;
  for (; child != nullptr && index > 0; --index) child = child->nextSibling;
  return child;
}

XmlNode* XmlNode::GetChild(int index) {
  return const_cast<XmlNode*>(static_cast<const XmlNode*>(this)->GetChild(index));
}

int XmlNode::GetChildName(int index, char* buffer, int size) const {
  const XmlNode* child = GetChild(index);
  CopyBounded(buffer, child != nullptr ? child->name : "", size);
  return 1;
}

const XmlNode* XmlNode::FindChild(const char* childName) const { return FindChild(childName, 0); }

XmlNode* XmlNode::FindChild(const char* childName) { return FindChild(childName, 0); }

const XmlNode* XmlNode::FindChild(const char* childName, int n) const {
  if (childName == nullptr || n < 0) return nullptr;
  for (const XmlNode* child = firstChild; child != nullptr; child = child->nextSibling) {
    if (EqualsIgnoringAsciiCase(child->name, childName) && n-- == 0) return child;
  }
  return nullptr;
}

XmlNode* XmlNode::FindChild(const char* childName, int n) {
  return const_cast<XmlNode*>(static_cast<const XmlNode*>(this)->FindChild(childName, n));
}

const XmlNode* XmlNode::FindChildByAttr(const char* childName, const char* attrName,
                                        const char* attrValue) const {
  if (attrValue == nullptr) return nullptr;
  for (const XmlNode* child = firstChild; child != nullptr; child = child->nextSibling) {
    if (childName != nullptr && !EqualsIgnoringAsciiCase(child->name, childName)) continue;
    const char* value = child->GetAttrValue(attrName);
    if (value != nullptr && std::strcmp(value, attrValue) == 0) return child;
  }
  return nullptr;
}

XmlNode* XmlNode::FindChildByAttr(const char* childName, const char* attrName,
                                  const char* attrValue) {
  return const_cast<XmlNode*>(
      static_cast<const XmlNode*>(this)->FindChildByAttr(childName, attrName, attrValue));
}

void XmlNode::AddChild(XmlNode* child, int mode) {
  assert(child != nullptr);
  if (child == nullptr) return;
  if (inArena) xml_memory::NoteForeignAttachment(this);
  child->parent = this;
  if (mode != 1) {
    child->nextSibling = firstChild;
    firstChild = child;
    return;
  }
  XmlNode* last = LastChild();
  if (last == nullptr) {
    firstChild = child;
  } else {
    last->nextSibling = child;
  }
}

void XmlNode::InsertSibling(XmlNode* element, int mode) {
  assert(element != nullptr);
  if (element == nullptr) return;
  if (inArena) xml_memory::NoteForeignAttachment(this);
  if (parent != nullptr && parent->inArena) xml_memory::NoteForeignAttachment(parent);
  if (mode == 1) {
    element->parent = parent;
    element->nextSibling = nextSibling;
    nextSibling = element;
    return;
  }
  assert(parent != nullptr);
  if (parent == nullptr) return;
  element->parent = parent;
  element->nextSibling = this;
  if (parent->firstChild == this) {
    parent->firstChild = element;
    return;
  }
  XmlNode* before = parent->firstChild;
  while (before != nullptr && before->nextSibling != this) before = before->nextSibling;
  assert(before != nullptr);  // this element is among its parent's children
  if (before != nullptr) before->nextSibling = element;
}

int XmlNode::RemoveChild(XmlNode* child) {
  if (firstChild == nullptr) return -2;
  XmlNode** link = &firstChild;
  for (int position = 0; *link != nullptr; ++position, link = &(*link)->nextSibling) {
    if (*link != child) continue;
    *link = child->nextSibling;
    child->nextSibling = nullptr;
    child->parent = nullptr;
    delete child;
    return position;
  }
  return -3;
}

// ---- XmlNode: deep copy ----

XmlNode* XmlNode::Clone(XmlNode* newParent) const {
  // Copies name, text, line and attributes of one element.
  auto copy_element = [](const XmlNode& source, XmlNode* copyParent) {
    std::unique_ptr<XmlNode> copy(new XmlNode);
    std::memcpy(copy->name, source.name, sizeof(copy->name));
    copy->parent = copyParent;
    copy->line = source.line;
    if (source.text != nullptr) copy->text = CopyText(source.text);
    if (source.firstAttr != nullptr) copy->firstAttr = source.firstAttr->Clone();
    return copy.release();
  };

  std::unique_ptr<XmlNode> root(copy_element(*this, newParent));
  // One frame per level being copied: the next source child to copy, the
  // copy that receives it, and the last child appended to that copy.
  struct Frame {
    const XmlNode* source;
    XmlNode* target;
    XmlNode* lastCopied;
  };
  std::vector<Frame> frames;
  if (firstChild != nullptr) frames.push_back({firstChild, root.get(), nullptr});
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.source == nullptr) {
      frames.pop_back();
      continue;
    }
    const XmlNode* source = frame.source;
    frame.source = source->nextSibling;
    XmlNode* copy = copy_element(*source, frame.target);
    // Linked at once, so the root owns everything made so far.
    if (frame.lastCopied == nullptr) {
      frame.target->firstChild = copy;
    } else {
      frame.lastCopied->nextSibling = copy;
    }
    frame.lastCopied = copy;
    if (source->firstChild != nullptr) frames.push_back({source->firstChild, copy, nullptr});
  }
  return root.release();
}

}  // namespace voicecontrol
