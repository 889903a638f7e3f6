#include <voicecontrol/interface/interface_message.h>

#include <cwchar>
#include <limits>
#include <utility>

#include "http/decimal.h"
#include "interface/dom_text.h"
#include "interface/error_detail.h"
#include "interface/message_variant.h"
#include "interface/plain_answer.h"
#include "platform/codepage.h"

namespace voicecontrol {

const InterfaceMessage::Variant InterfaceMessage::kRequestVariant = {
    L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Request>\n",
    L"</Field>\n</Request>\n</Interface>",
    L"//Interface/Request/Seq_No",
    L"//Interface/Request/FlowID",
    L"//Interface/Request/FieldNum",
    L"//Interface/Request/Field/Field_Value",
};

const InterfaceMessage::Variant InterfaceMessage::kResponseVariant = {
    L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Response>\n",
    L"</Field>\n</Response>\n</Interface>",
    L"//Interface/Response/Seq_No",
    L"//Interface/Response/FlowID",
    L"//Interface/Response/FieldNum",
    L"//Interface/Response/Field/Field_Value",
};

namespace {

// Room for a command's whole document, which then grows without copies; a
// message that is only read never needs it.
void ReserveForWriting(std::wstring* text) {
  constexpr size_t kCommandDocument = 512;
  if (text->capacity() < kCommandDocument) text->reserve(kCommandDocument);
}

}  // namespace

std::int32_t ParseDecimalInteger(const std::wstring& text) {
  return ReadDecimalPrefix(text.data(), text.data() + text.size());
}

std::wstring EscapeFieldValue(const std::wstring& value) {
  std::wstring escaped;
  escaped.reserve(value.size());
  for (wchar_t c : value) {
    switch (c) {
      case L'&':
        escaped += L"&amp;";
        break;
      case L'<':
        escaped += L"&lt;";
        break;
      case L'>':
        escaped += L"&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

InterfaceMessage::InterfaceMessage(const Variant& variant)
    : variant_(variant), text_(variant.opening) {}

InterfaceMessage::~InterfaceMessage() = default;

void InterfaceMessage::WriteElement(const wchar_t* name, std::int32_t value) {
  ReserveForWriting(&text_);
  // Put together on the stack and appended once: the names are short.
  constexpr size_t kLongestName = 16;
  const size_t nameLength = std::wcslen(name);
  if (nameLength > kLongestName) {
    text_.append(L"<").append(name).append(L">");
    wchar_t digits[kDecimalCapacity];
    text_.append(digits, static_cast<size_t>(WriteDecimal(value, digits)));
    text_.append(L"</").append(name).append(L">\n");
    return;
  }
  wchar_t element[2 * kLongestName + kDecimalCapacity + 8];
  wchar_t* out = element;
  *out++ = L'<';
  out = std::wmemcpy(out, name, nameLength) + nameLength;
  *out++ = L'>';
  out += WriteDecimal(value, out);
  *out++ = L'<';
  *out++ = L'/';
  out = std::wmemcpy(out, name, nameLength) + nameLength;
  *out++ = L'>';
  *out++ = L'\n';
  text_.append(element, static_cast<size_t>(out - element));
}

void InterfaceMessage::WriteSeqNo(std::int32_t seq_no) { WriteElement(L"Seq_No", seq_no); }

void InterfaceMessage::WriteFlowID(std::int32_t flow_id) { WriteElement(L"FlowID", flow_id); }

void InterfaceMessage::WriteFieldNum(std::int32_t field_num) {
  WriteElement(L"FieldNum", field_num);
  text_ += L"<Field>\n";
}

void InterfaceMessage::WriteFieldValue(std::wstring value) {
  // Escaping keeps a host's value from closing the element or injecting
  // fields of its own; values without markup characters are unchanged.
  ReserveForWriting(&text_);
  text_ += L"<Field_Value>";
  text_ += EscapeFieldValue(value);
  text_ += L"</Field_Value>\n";
}

std::wstring InterfaceMessage::Finish() {
  text_ += variant_.closing;
  return text_;
}

namespace {

constexpr char kDoctypeRefused[] = "document has a document type declaration";

}  // namespace

bool InterfaceMessage::PrepareLoad() { return dom_.Prepare(); }

int InterfaceMessage::Load(std::wstring source) {
  if (HasDocumentTypeDeclaration(source)) return Refuse(kDoctypeRefused);
  return TakeRoot(dom_.LoadXml(source));
}

int InterfaceMessage::LoadAnsi(std::string_view source) {
  if (HasDocumentTypeDeclaration(source)) return Refuse(kDoctypeRefused);
  return TakeRoot(dom_.LoadAnsiXml(source));
}

int InterfaceMessage::Refuse(const char* reason) {
  internal::NoteErrorDetail(reason);
  dom_ = DomDocument();
  return TakeRoot(DomNode());
}

int InterfaceMessage::TakeRoot(DomNode root) {
  root_ = std::move(root);
  fields_ = DomNodeList();
  fields_taken_ = 0;
  fields_selected_ = false;
  fields_exhausted_ = false;
  return root_.IsEmpty() ? 0 : 1;
}

namespace {

// `FlowID "abc" is not a number`, the text cut short and made printable:
// it comes from the wire.
std::string NotANumber(const char* name, const std::wstring& text) {
  constexpr size_t kShown = 20;
  std::wstring shown = text.substr(0, kShown);
  for (wchar_t& c : shown) {
    if (c < 0x20 || c == 0x7F) c = L' ';
  }
  return std::string(name) + " \"" + platform::WideToUtf8String(shown) +
         (text.size() > kShown ? "...\"" : "\"") + " is not a number";
}

// The number in the element `path` selects under `root`. Both readings
// that give 0 without the element holding a 0 are noted, so that a reader
// can tell "no FlowID" from "FlowID abc" from "FlowID 0". A document that
// did not load notes nothing here: its load said why.
std::int32_t ReadNumber(const DomNode& root, const wchar_t* path, const char* name) {
  if (root.IsEmpty()) return 0;
  const DomNode node = root.SelectSingleNode(path);
  if (node.IsEmpty()) return internal::NumberFromText(nullptr, name);
  const std::wstring text = node.GetText();
  return internal::NumberFromText(&text, name);
}

}  // namespace

namespace internal {

std::int32_t NumberFromText(const std::wstring* text, const char* name) {
  if (text == nullptr) {
    if (name != nullptr) NoteErrorDetail(std::string("document has no ") + name);
    return 0;
  }
  if (name != nullptr && !HoldsDecimal(text->data(), text->data() + text->size())) NoteErrorDetail(NotANumber(name, *text));
  return ParseDecimalInteger(*text);
}

}  // namespace internal

std::int32_t InterfaceMessage::ReadInteger(const wchar_t* path) {
  return ReadNumber(root_, path, nullptr);
}

std::int32_t InterfaceMessage::ReadSeqNo() {
  return ReadNumber(root_, variant_.seq_no_path, "Seq_No");
}

std::int32_t InterfaceMessage::ReadFlowID() {
  return ReadNumber(root_, variant_.flow_id_path, "FlowID");
}

std::int32_t InterfaceMessage::ReadFieldNum() {
  return ReadNumber(root_, variant_.field_num_path, "FieldNum");
}

std::wstring InterfaceMessage::ReadNextFieldValue() {
  // The cursor saturates: a 2^31st value cannot exist in any real answer.
  if (field_cursor_ == std::numeric_limits<std::int32_t>::max()) return std::wstring();
  ++field_cursor_;
  if (root_.IsEmpty() || fields_exhausted_) return std::wstring();
  if (!fields_selected_) {
    fields_ = root_.SelectNodes(variant_.field_value_path);
    fields_selected_ = true;
    fields_taken_ = 0;
  }
  if (fields_.IsEmpty()) {
    fields_exhausted_ = true;
    return std::wstring();
  }
  // Catch up with the cursor: usually one step, more when calls were made
  // before the document was loaded.
  DomNode node;
  while (fields_taken_ < field_cursor_) {
    node = fields_.NextElement();
    ++fields_taken_;
    if (node.IsEmpty()) {
      fields_exhausted_ = true;
      return std::wstring();
    }
  }
  return node.GetText();
}

InterfaceRequest::InterfaceRequest() : InterfaceMessage(kRequestVariant) {}
InterfaceRequest::~InterfaceRequest() = default;

InterfaceResponse::InterfaceResponse() : InterfaceMessage(kResponseVariant) {}
InterfaceResponse::~InterfaceResponse() = default;

}  // namespace voicecontrol
