// Answer documents that are not well-formed XML, each beside the same
// document with the one defect repaired, shared by the interface and the
// controller tests of both platforms: a server's answer either is a
// document, and then its values are read, or it is none, and then nothing
// of it is read, whichever platform DOM reads it.
#ifndef VOICECONTROL_TESTS_INTERFACE_ANSWER_DOCUMENTS_H_
#define VOICECONTROL_TESTS_INTERFACE_ANSWER_DOCUMENTS_H_

#include <ostream>
#include <string>
#include <vector>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace voicecontrol {
namespace testing {

// A CREATE answer (FlowID 1001, result 0) whose second value element is
// `value_element`, with `prolog` before the document element and `epilog`
// after it.
inline std::string CreateAnswerDocument(const std::string& value_element,
                                        const std::string& prolog = "",
                                        const std::string& epilog = "") {
  return "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n" + prolog +
         "<Interface>\n<Response>\n<Seq_No>1</Seq_No>\n<FlowID>1001</FlowID>\n"
         "<FieldNum>2</FieldNum>\n<Field>\n<Field_Value>0</Field_Value>\n" +
         value_element + "\n</Field>\n</Response>\n</Interface>" + epilog;
}

inline std::string ValueElement(const std::string& content) {
  return "<Field_Value>" + content + "</Field_Value>";
}

// True under Wine, whose DOM (libxml2 inside) departs from the Windows DOM
// in the few cases that say so.
inline bool RunningUnderWine() {
#if defined(_WIN32)
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

struct MalformedAnswer {
  const char* name;
  std::string document;  // not well formed
  std::string repaired;  // the same with the defect mended: well formed
  // Why Wine's DOM loads `document` all the same; null when it refuses it.
  const char* wine_accepts = nullptr;
};

inline std::ostream& operator<<(std::ostream& out, const MalformedAnswer& answer) {
  return out << answer.name;
}

inline std::vector<MalformedAnswer> MalformedAnswers() {
  const std::string doctype = "<!DOCTYPE Interface [<!ENTITY who \"alice\">]>\n";
  return {
      {"BareAmpersand", CreateAnswerDocument(ValueElement("a&b")),
       CreateAnswerDocument(ValueElement("a&amp;b"))},
      {"UndeclaredEntity", CreateAnswerDocument(ValueElement("a&nbsp;b")),
       CreateAnswerDocument(ValueElement("a&#160;b"))},
      // An answer declares no entities at all: the repaired form spells the text out.
      {"UndeclaredEntityBesideDeclaredOnes",
       CreateAnswerDocument(ValueElement("&who;&whom;"), doctype),
       CreateAnswerDocument(ValueElement("alice"))},
      // XML 1.0, "No External Entity References": an attribute value cannot
      // refer to an external entity, even one that is never fetched.
      {"ExternalEntityInAttribute",
       CreateAnswerDocument("<Field_Value a=\"&ext;\">v</Field_Value>",
                            "<!DOCTYPE Interface [<!ENTITY ext SYSTEM \"x.ent\">]>\n"),
       CreateAnswerDocument("<Field_Value a=\"x\">v</Field_Value>")},
      {"CdataEndInText", CreateAnswerDocument(ValueElement("a]]>b")),
       CreateAnswerDocument(ValueElement("a]]&gt;b"))},
      {"AttributeGivenTwice", CreateAnswerDocument("<Field_Value x=\"1\" x=\"2\">v</Field_Value>"),
       CreateAnswerDocument("<Field_Value x=\"1\" y=\"2\">v</Field_Value>")},
      {"ControlCharacter",
       CreateAnswerDocument(ValueElement("a\x01"
                                         "b")),
       CreateAnswerDocument(ValueElement("a\tb"))},
      {"ControlCharacterReference", CreateAnswerDocument(ValueElement("a&#1;b")),
       CreateAnswerDocument(ValueElement("a&#9;b"))},
      {"NonCharacterReference", CreateAnswerDocument(ValueElement("a&#xFFFE;b")),
       CreateAnswerDocument(ValueElement("a&#xFFFD;b"))},
      {"DoubleHyphenInComment", CreateAnswerDocument(ValueElement("a<!-- x -- y -->b")),
       CreateAnswerDocument(ValueElement("a<!-- x - y -->b"))},
      {"ElementAfterTheRoot", CreateAnswerDocument(ValueElement("v"), "", "\n<Interface/>"),
       CreateAnswerDocument(ValueElement("v"), "", "\n<!-- end -->")},
      {"TextAfterTheRoot", CreateAnswerDocument(ValueElement("v"), "", "\ntrailing"),
       CreateAnswerDocument(ValueElement("v"), "", "\n")},
      {"LessThanInText", CreateAnswerDocument(ValueElement("a<b")),
       CreateAnswerDocument(ValueElement("a&lt;b"))},
      {"LessThanInAttribute", CreateAnswerDocument("<Field_Value x=\"<\">v</Field_Value>"),
       CreateAnswerDocument("<Field_Value x=\"&lt;\">v</Field_Value>")},
      {"UnquotedAttribute", CreateAnswerDocument("<Field_Value x=1>v</Field_Value>"),
       CreateAnswerDocument("<Field_Value x=\"1\">v</Field_Value>")},
      {"EndTagOfAnotherName", CreateAnswerDocument("<Field_Value>v</Field_value>"),
       CreateAnswerDocument("<Field_Value>v</Field_Value>")},
      {"UnclosedElement", CreateAnswerDocument("<Field_Value>v"),
       CreateAnswerDocument("<Field_Value>v</Field_Value>")},
      {"UndeclaredNamespacePrefix", CreateAnswerDocument("<p:Note>v</p:Note>"),
       CreateAnswerDocument("<p:Note xmlns:p=\"urn:x\">v</p:Note>"),
       "Wine builds its DOM with libxml2, which reports an undeclared prefix as a namespace "
       "error but keeps the document; the Windows DOM refuses it"},
      {"DeclarationNotAtTheStart", " " + CreateAnswerDocument(ValueElement("v")),
       CreateAnswerDocument(ValueElement("v"))},
  };
}

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TESTS_INTERFACE_ANSWER_DOCUMENTS_H_
