/// @file
/// The interface message: the small XML document every command and every
/// answer carries as its HTTP body.
///
/// @code{.xml}
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
/// @endcode
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

namespace internal {
struct AnswerDocument;
}  // namespace internal

/// What the request and response documents share; they differ only in the
/// name of the body element.
class VC_API InterfaceMessage {
 public:
  /// Releases the text and the document.
  virtual ~InterfaceMessage();

  InterfaceMessage(const InterfaceMessage&) = delete;             ///< Not copyable.
  InterfaceMessage& operator=(const InterfaceMessage&) = delete;  ///< Not copyable.

  /// Writes the XML declaration, the opening elements and Seq_No.
  /// @param seq_no the sequence number.
  void WriteSeqNo(std::int32_t seq_no);
  /// Writes FlowID.
  /// @param flow_id the flow identifier that names the command, e.g. 1001.
  void WriteFlowID(std::int32_t flow_id);
  /// Writes FieldNum and opens the Field element that Finish closes.
  /// @param field_num the number of values that follow.
  void WriteFieldNum(std::int32_t field_num);
  /// Writes one Field_Value. The value is escaped (& < > become &amp; &lt;
  /// &gt;), so any text comes back from a conforming reader as the one
  /// value it was.
  /// @param value the value's text.
  void WriteFieldValue(std::wstring value);
  /// Closes the document. Call once.
  /// @return the whole document text.
  std::wstring Finish();

  /// Readies the DOM for Load.
  /// @return false when the DOM service cannot be used on this thread (see
  ///         DomDocument::Prepare).
  bool PrepareLoad();
  /// Loads `source` into a fresh DOM document. Never raises. An interface
  /// message has no use for a document type declaration: a text with one is
  /// refused before the DOM sees it (its entities could make a small text
  /// expand without bound).
  /// @param source the document text.
  /// @return 1 when it has a document element, else 0.
  int Load(std::wstring source);
  /// Load for a text in the ANSI code page, as received.
  /// @param source the document's bytes.
  /// @return 1 when it has a document element, else 0.
  int LoadAnsi(std::string_view source);
  /// The integer in Seq_No; values beyond 32 bits saturate.
  /// @return the number, 0 when the element is absent or holds no digits.
  std::int32_t ReadSeqNo();
  /// The integer in FlowID; values beyond 32 bits saturate.
  /// @return the number, 0 when the element is absent or holds no digits.
  std::int32_t ReadFlowID();
  /// The integer in FieldNum; values beyond 32 bits saturate.
  /// @return the number, 0 when the element is absent or holds no digits.
  std::int32_t ReadFieldNum();
  /// The next Field_Value.
  /// @return on the k-th call the k-th Field_Value in document order
  ///         (counting every call, also those before Load or without a
  ///         document), then "".
  std::wstring ReadNextFieldValue();

 protected:
  /// The body element's name, the fixed fragments and the paths of one
  /// variant; static, so that no object copies them.
  struct Variant;
  static const Variant kRequestVariant;   ///< The request document (Request element).
  static const Variant kResponseVariant;  ///< The answer document (Response element).
  /// A message of one variant, empty.
  /// @param variant kRequestVariant or kResponseVariant.
  explicit InterfaceMessage(const Variant& variant);

 private:
  friend struct internal::AnswerDocument;

  void WriteElement(const wchar_t* name, std::int32_t value);
  int TakeRoot(DomNode root);
  // Gives no document, noting `reason` as the error detail.
  int Refuse(const char* reason);
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

/// The interface message of a command: its body element is Request.
class VC_API InterfaceRequest : public InterfaceMessage {
 public:
  /// An empty request document.
  InterfaceRequest();
  /// Releases the text and the document.
  ~InterfaceRequest() override;
};

/// The interface message of an answer: its body element is Response.
class VC_API InterfaceResponse : public InterfaceMessage {
 public:
  /// An empty answer document.
  InterfaceResponse();
  /// Releases the text and the document.
  ~InterfaceResponse() override;
};

/// Reads a decimal integer the way the documents' readers always have: white
/// space skipped, an optional sign, digits up to the first other character.
/// @param text the text to read.
/// @return the number; 0 when there are no digits; out-of-range values
///         saturate at the 32-bit limits.
VC_API std::int32_t ParseDecimalInteger(const std::wstring& text);

/// Escapes a field value for the document.
/// @param value the text.
/// @return `value` with & < > replaced by &amp; &lt; &gt;.
VC_API std::wstring EscapeFieldValue(const std::wstring& value);

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_INTERFACE_MESSAGE_H_
