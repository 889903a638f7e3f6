/// @file
/// The interface message: the small XML document every command and every
/// answer carries as its HTTP body.
///
///   <?xml version="1.0" encoding="GB2312" ?>
///   <Interface>
///   <Request>                        (<Response> in answers)
///   <Seq_No>7</Seq_No>
///   <FlowID>1001</FlowID>
///   <FieldNum>2</FieldNum>
///   <Field>
///   <Field_Value>a</Field_Value>
///   <Field_Value>b</Field_Value>
///   </Field>
///   </Request>
///   </Interface>                     (no line feed after the last line)
///
/// One object is either a writer (construction, WriteSeqNo, WriteFlowID,
/// WriteFieldNum, WriteFieldValue per value, Finish) or a reader (Load, then
/// the Read operations in any order). The writer appends fragments in call
/// order and does not enforce that order.
#ifndef VOICECONTROL_INTERFACE_INTERFACE_MESSAGE_H_
#define VOICECONTROL_INTERFACE_INTERFACE_MESSAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include <voicecontrol/interface/dom.h>
#include <voicecontrol/export.h>

namespace voicecontrol {

/// What the request and response documents share; they differ only in the
/// name of the body element.
class VC_API InterfaceMessage {
 public:
  virtual ~InterfaceMessage();

  InterfaceMessage(const InterfaceMessage&) = delete;
  InterfaceMessage& operator=(const InterfaceMessage&) = delete;

  /// Writer.
  void WriteSeqNo(std::int32_t seq_no);
  void WriteFlowID(std::int32_t flow_id);
  /// Also opens the Field element that Finish closes.
  void WriteFieldNum(std::int32_t field_num);
  /// The value is escaped (& < > become &amp; &lt; &gt;), so any text comes
  /// back from a conforming reader as the one value it was.
  void WriteFieldValue(std::wstring value);
  /// Closes the document and returns the whole text. Call once.
  std::wstring Finish();

  /// Reader. Loads `source` into a fresh DOM document: 1 when it has a
  /// document element, else 0. Never raises.
  int Load(std::wstring source);
  /// The same for a text in the system's ANSI code page, as received.
  int LoadAnsi(std::string_view source);
  /// The integer in Seq_No, FlowID or FieldNum; 0 when the element is absent
  /// or holds no digits. Values beyond 32 bits saturate.
  std::int32_t ReadSeqNo();
  std::int32_t ReadFlowID();
  std::int32_t ReadFieldNum();
  /// The k-th call returns the k-th Field_Value in document order (counting
  /// every call, also those before Load or without a document), then "".
  std::wstring ReadNextFieldValue();

 protected:
  /// The body element's name, the fixed fragments and the paths of one
  /// variant; static, so that no object copies them.
  struct Variant;
  static const Variant kRequestVariant;
  static const Variant kResponseVariant;
  explicit InterfaceMessage(const Variant& variant);

 private:
  void WriteElement(const wchar_t* name, std::int32_t value);
  int TakeRoot(DomNode root);
  std::int32_t ReadInteger(const wchar_t* path);

  const Variant& variant_;

  std::wstring text_;  ///< as written so far
  DomDocument dom_;
  DomNode root_;

  /// Number of ReadNextFieldValue calls so far; never reset.
  std::int32_t field_cursor_ = 0;
  /// The Field_Value list is selected once and walked forward, so reading n
  /// values costs n steps. `fields_taken_` counts the elements taken from it.
  DomNodeList fields_;
  std::int32_t fields_taken_ = 0;
  bool fields_selected_ = false;
  bool fields_exhausted_ = false;
};

class VC_API InterfaceRequest : public InterfaceMessage {
 public:
  InterfaceRequest();
  ~InterfaceRequest() override;
};

class VC_API InterfaceResponse : public InterfaceMessage {
 public:
  InterfaceResponse();
  ~InterfaceResponse() override;
};

/// Reads a decimal integer the way the documents' readers always have: white
/// space skipped, an optional sign, digits up to the first other character;
/// no digits give 0. Out-of-range values saturate at the 32-bit limits.
VC_API std::int32_t ParseDecimalInteger(const std::wstring& text);

/// `value` with & < > replaced by &amp; &lt; &gt;.
VC_API std::wstring EscapeFieldValue(const std::wstring& value);

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_INTERFACE_MESSAGE_H_
