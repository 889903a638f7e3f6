// The object a host application drives: VoiceController sends the six
// commands of the voice service, one HTTP/1.1 request on a TCP connection
// of its own per command, and reports every outcome through the host's
// VoiceEventSink.
//
// Threading. Commands run on the calling thread until the request has been
// sent; the answer is awaited on a receive thread of that request. Sink
// calls therefore arrive on two kinds of threads: on the calling thread,
// during the command, for failures to create the socket, to connect or to
// send ("socket error.", "connect error.", "send error.", "param error."
// for a text argument that is too long, and "timeout." when the request
// went out but no receive thread could be started for it); on a receive
// thread for everything else. Requests are independent: a command may be
// issued while earlier ones are still in flight, and then the sink may be
// called from several receive threads at once, so the sink must be
// thread-safe. Every command ends in exactly one outcome (one error, one
// result, one "no entries", or the entries of one QAll answer). The
// library holds no lock while it calls the sink, so the sink may issue
// further commands.
//
// Texts. Every text crosses the interface as std::wstring: on Linux it
// holds UTF-32 (one wchar_t per code point), on Windows UTF-16 (a code
// point beyond U+FFFF takes two wchar_t, a surrogate pair).
//
// Issue the commands of one controller from one thread at a time (or from
// its sink callbacks). The destructor waits for the receive threads still
// running, at most the receive time-out (5 seconds). A controller may even
// be destroyed from inside one of its own callbacks; the rest of that
// answer (further QAll entries) then still reaches the sink after the
// destructor has returned, so the sink must outlive those calls.
#ifndef VOICECONTROL_CONTROLLER_VOICECONTROLLER_H_
#define VOICECONTROL_CONTROLLER_VOICECONTROLLER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <voicecontrol/export.h>

namespace voicecontrol {

class HttpXmlRsp;
namespace internal {
class ReceiveThreads;
class RequestIssuer;
}

// The host's callback interface. The library only calls it; every text is
// the host's own copy. The operations keep this order (the slot order of
// the interface); the destructor is not virtual and not part of it, so the
// library never deletes a sink.
class VC_API VoiceEventSink {
 public:
  // Any failure: "socket error.", "connect error.", "send error.",
  // "timeout.", "init http parse.", "decode.", "param error." or
  // "bad message.".
  virtual void OnError(std::wstring text) = 0;

  // The answer to Create (1001), Kick (1002), Change (1003) or DsCall
  // (1006): the server's result code and text.
  virtual void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) = 0;

  // A QAll answer without entries.
  virtual void OnQAllEmpty() = 0;

  // One entry of a QAll answer; called once per entry, in order.
  virtual void OnQAllEntry(std::wstring field1, std::wstring field2, std::wstring field3,
                           std::wstring field4, std::wstring field5, std::wstring field6,
                           std::wstring field7, std::wstring field8) = 0;

  // The answer to QSingle: its eighteen values, in order.
  virtual void OnQSingleResult(std::wstring value1, std::wstring value2, std::wstring value3,
                               std::wstring value4, std::wstring value5, std::wstring value6,
                               std::wstring value7, std::wstring value8, std::wstring value9,
                               std::wstring value10, std::wstring value11, std::wstring value12,
                               std::wstring value13, std::wstring value14, std::wstring value15,
                               std::wstring value16, std::wstring value17,
                               std::wstring value18) = 0;

 protected:
  ~VoiceEventSink() = default;
};

class VC_API VoiceController {
 public:
  // The sink is not owned; it must outlive the controller.
  explicit VoiceController(VoiceEventSink* sink);
  ~VoiceController();
  VoiceController(const VoiceController&) = delete;
  VoiceController& operator=(const VoiceController&) = delete;

  // The commands. Text arguments whose UTF-8 form exceeds 255 bytes are
  // refused with "param error." and nothing is sent.
  void Create(std::wstring a, std::wstring b, std::wstring c, std::wstring d);
  void Kick(std::wstring a, std::wstring b);
  void Change(std::wstring a, std::wstring b, uint16_t n);
  void QAll();
  void QSingle(std::wstring a);
  // Sends a, b and the local date and time `durationSeconds` from now.
  void DsCall(std::wstring a, std::wstring b, uint32_t durationSeconds);

  // The next sequence number: 1, 2, ... 65534, then 1 again.
  int32_t NextSeqNo();

  // The layers beneath the commands, public for hosts and tests that build
  // their own requests or answers.
  //
  // Connects, sends the terminated request text once, logs it and starts
  // its receive thread. 0 on success; -1 after reporting the failure.
  int SendRequest(const char* request);
  // Turns a parsed answer into the sink call its FlowID selects.
  void DispatchResponse(HttpXmlRsp& response);
  // Delivers the entries of a QAll answer: `count` entries taken from the
  // eight comma-terminated lists.
  void DeliverQAllResult(int32_t count, std::wstring list1, std::wstring list2, std::wstring list3,
                         std::wstring list4, std::wstring list5, std::wstring list6,
                         std::wstring list7, std::wstring list8);

  // Test seams; hosts leave them alone. The receive time-out applies to
  // requests sent afterwards.
  void SetReceiveTimeoutForTesting(int64_t milliseconds) { receiveTimeoutMs = milliseconds; }
  void FailThreadStartsForTesting(bool fail) { failThreadStarts = fail; }

  // The server: IPv4 address in dotted form (as inet_addr reads it) and
  // TCP port. Set them before the first command; the library never
  // changes them.
  std::string serverAddress;
  uint16_t serverPort = 0;

 private:
  // Issues commands whose outcome goes to a sink of the request's own.
  friend class internal::RequestIssuer;
  struct Request;

  // `to` receives the outcome; the request keeps it until its last call.
  void SendCommand(const std::shared_ptr<VoiceEventSink>& to, int method, int32_t flowId,
                   const std::wstring* const* texts, int textCount, const char* lastValue);
  int SendRequestTo(const std::shared_ptr<VoiceEventSink>& to, const char* request);
  // The receive thread's work; touches only the request, never the
  // controller, which may be gone once the sink has been called.
  static void ReceiveResponse(Request* request);
  static void ReportError(VoiceEventSink* to, const char* text);

  VoiceEventSink* sink;
  std::atomic<int32_t> seqNo{0};
  int64_t receiveTimeoutMs = 5000;
  bool failThreadStarts = false;

  std::unique_ptr<internal::ReceiveThreads> receiveThreads;
};

// True (1) when `data` (`length` bytes) holds a complete HTTP response: the
// header block has ended and, if a Content-Length header comes first among
// the headers, at least that many body bytes follow. 0 while more bytes
// are needed.
VC_API int IsResponseComplete(const char* data, int length);

// Appends to `list` every piece of `text` that is followed by `separator`
// (the part after the last separator is dropped).
VC_API void SplitList(const std::wstring& text, const std::wstring& separator,
                      std::vector<std::wstring>* list);

// Chooses the code page that stands in for the system's ANSI code page in
// this process, a host setting like the server's address: answers are
// decoded with it, so a server that answers in GB2312 needs "GB2312" (or
// "GBK", "GB18030") on a system whose code page is UTF-8. Call it before the
// first command. Names, in any letter case: "UTF-8", "GB18030", "GBK",
// "GB2312", "BIG5", "SHIFT_JIS", "EUC-KR", "WINDOWS-1252" and the forms
// "CP936", "CP950", "CP932", "CP949", "CP1252", "CP65001". Returns false,
// changing nothing, for any other name. Until it is called the code page is
// UTF-8 on Linux and the system's ANSI code page on Windows. Requests carry
// the UTF-8 bytes of their arguments whatever the choice.
VC_API bool SetCodePage(const char* name);

}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_VOICECONTROLLER_H_
