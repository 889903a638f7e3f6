// The DOM on any document and any path: loading never raises, a query
// either raises DomError or gives nodes that can be read (SelectSingleNode
// raising exactly when SelectNodes does), and the nodes stay readable
// after their document object has moved on to another text. AddressSanitizer
// watches the nodes' lifetime and every allocation of the parser.
//
// Input: the path on the first line, the document (ANSI/UTF-8) after it. The
// paths of the interface messages are queried on every document too.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <voicecontrol/interface/dom.h>
#include "platform/codepage.h"

namespace {

using voicecontrol::DomError;
using voicecontrol::DomNode;
using voicecontrol::DomNodeList;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

const wchar_t* const kInterfacePaths[] = {
    L"//Interface/Response/Seq_No",           L"//Interface/Response/FlowID",
    L"//Interface/Response/FieldNum",         L"//Interface/Response/Field/Field_Value",
    L"//Interface/Request/Field/Field_Value",
};

// Longer paths add nothing but evaluation time.
constexpr size_t kMaxPath = 200;

struct Selection {
  bool raised = false;
  std::vector<DomNode> elements;  // what NextElement gave, in order
};

Selection SelectElements(const DomNode& root, const std::wstring& path) {
  Selection selection;
  try {
    DomNodeList list = root.SelectNodes(path);
    Check(!list.IsEmpty());
    for (DomNode node = list.NextElement(); !node.IsEmpty(); node = list.NextElement()) {
      selection.elements.push_back(node);
    }
    Check(list.NextElement().IsEmpty());  // an exhausted list stays exhausted
  } catch (const DomError&) {
    selection.raised = true;
  }
  return selection;
}

void Query(const DomNode& root, const std::wstring& path, std::vector<DomNode>* kept) {
  const Selection all = SelectElements(root, path);
  DomNode first;
  bool raised = false;
  try {
    first = root.SelectSingleNode(path);
  } catch (const DomError&) {
    raised = true;
  }
  Check(raised == all.raised);
  for (const DomNode& node : all.elements) {
    Check(!node.GetName().empty());
    node.GetText();
  }
  // The first node may be of any kind (an attribute, a text): it is read,
  // and kept to be read again later.
  if (!first.IsEmpty()) {
    first.GetName();
    first.GetText();
    kept->push_back(first);
  }
  kept->insert(kept->end(), all.elements.begin(), all.elements.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t line_end = input.find('\n');
  if (line_end == std::string_view::npos || line_end > kMaxPath) return 0;
  const std::string_view path_bytes = input.substr(0, line_end);

  DomDocument dom;
  const DomNode root = dom.LoadAnsiXml(input.substr(line_end + 1));
  if (root.IsEmpty()) return 0;
  Check(!root.GetName().empty());
  root.GetText();

  std::vector<DomNode> kept;
  Query(root, platform::Utf8ToWideString(path_bytes.data(), path_bytes.size()), &kept);
  for (const wchar_t* path : kInterfacePaths) Query(root, path, &kept);

  // The nodes keep their document alive when the document object loads
  // another text (or none).
  std::vector<std::wstring> texts;
  for (const DomNode& node : kept) texts.push_back(node.GetText());
  dom.LoadXml(L"<other/>");
  for (size_t i = 0; i < kept.size(); ++i) Check(kept[i].GetText() == texts[i]);
  return 0;
}
