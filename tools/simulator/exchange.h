// The HTTP side of the simulator, free of sockets: framing a request as it
// arrives, reading the command in it, and writing the answers.
#ifndef VOICECONTROL_TOOLS_SIMULATOR_EXCHANGE_H_
#define VOICECONTROL_TOOLS_SIMULATOR_EXCHANGE_H_

#include <cstddef>
#include <optional>
#include <string>

#include <voicecontrol/testing/simulator.h>

#include "session_model.h"

namespace voicecontrol {
namespace testing {

// Requests (header block and body together) are refused beyond this size.
constexpr size_t kMaxRequestBytes = 64 * 1024;

// What the header block of a request says about its framing.
struct RequestHead {
  size_t headerEnd = 0;                // bytes up to and including the blank line
  std::optional<size_t> contentLength;  // absent when there is no usable header
  bool expectContinue = false;          // "Expect: 100-continue"
};

// Reads the header block at the start of `data`. False while it has not
// ended yet (no CR LF CR LF).
bool ReadHead(const std::string& data, RequestHead* head);

// Reads a whole request (`raw`, framed by `head`) as a command: the method
// from the request line (one of HttpXmlMethod, version HTTP/1.1 or 1.0), the
// body as a UTF-8 interface message. Fills `request` as far as it gets and
// sets request->isCommand when everything was readable.
void ReadCommand(const std::string& raw, const RequestHead& head, ReceivedRequest* request);

// The bytes of an answer to a command: `answer` from the model (or the
// scripted `body`), shaped by `fault`, in `encoding`. Never holds more
// than the header block when fault.partial is set (see HeaderBlockLength).
std::string BuildAnswer(int seqNo, const Answer& answer, const std::optional<std::string>& body,
                        const Fault& fault, Encoding encoding);

// A short plain-text answer for a request that is no command: 400, 413.
std::string RefusalAnswer(int status, const std::string& reason);

// The answer to "Expect: 100-continue".
constexpr char kContinueAnswer[] = "HTTP/1.1 100 Continue\r\n\r\n";

// Length of the header block of `wire` (blank line included).
size_t HeaderBlockLength(const std::string& wire);

// The interface message body of an answer, in `encoding`.
std::string AnswerBodyText(int seqNo, int flowId, std::optional<int> fieldNum,
                           const std::vector<std::wstring>& values, Encoding encoding);

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_EXCHANGE_H_
