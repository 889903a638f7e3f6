/**
 * @file
 * @brief The controller a C++ host drives: VoiceController, the host's
 * callback interface VoiceEventSink, and the process-wide settings.
 *
 * VoiceController sends the six commands of the voice service, one HTTP/1.1
 * request on a TCP connection of its own per command, and reports every
 * outcome through the host's VoiceEventSink.
 *
 * @par Threads
 * A command runs on the calling thread until its request has been sent;
 * the answer is awaited on a receive thread of that request. Sink calls
 * therefore arrive on two kinds of threads. On the calling thread, during
 * the command, come the failures of the call itself: "socket error.",
 * "connect error." (the connection is awaited for at most the connect
 * time-out, 5 seconds unless SetTimeouts chose another),
 * "send error.", "param error." for a text argument that cannot be sent,
 * and "timeout." when the request went out but no receive thread could be
 * started for it. Everything else comes on a receive thread. Requests are
 * independent: a command may be issued while earlier ones are still in
 * flight, and then the sink may be called from several receive threads at
 * once, so the sink must be thread-safe. Every command ends in exactly one
 * outcome (one error, one result, one "no entries", or the entries of one
 * QAll answer). The library holds no lock while it calls the sink, so the
 * sink may issue further commands.
 *
 * @par Texts
 * Every text crosses the interface as std::wstring: on Linux it holds
 * UTF-32 (one wchar_t per code point), on Windows UTF-16 (a code point
 * beyond U+FFFF takes two wchar_t, a surrogate pair).
 *
 * @par Lifetime
 * Issue the commands of one controller from one thread at a time (or from
 * its sink callbacks). The destructor waits for the receive threads still
 * running, at most the answer time-out (5 seconds unless SetTimeouts chose
 * another). A controller may even
 * be destroyed from inside one of its own callbacks; the rest of that
 * answer (further QAll entries) then still reaches the sink after the
 * destructor has returned, so the sink must outlive those calls.
 */
#ifndef VOICECONTROL_CONTROLLER_VOICECONTROLLER_H_
#define VOICECONTROL_CONTROLLER_VOICECONTROLLER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <voicecontrol/controller/RequestObserver.h>
#include <voicecontrol/export.h>

/// The voicecontrol library: everything it offers a C++ host.
namespace voicecontrol {

class HttpXmlRsp;

/// @cond INTERNAL
namespace internal {
class ControllerTesting;
class ReceiveThreads;
class RequestIssuer;
class Transport;
}  // namespace internal
/// @endcond

/**
 * @brief The host's callback interface: every outcome of a command
 * reaches the host through one of these operations.
 *
 * The library only calls it; every text is the host's own copy. The
 * operations keep this order (the slot order of the interface); the
 * destructor is not virtual and not part of it, so the library never
 * deletes a sink.
 */
class VC_API VoiceEventSink {
 public:
  /**
   * @brief A command failed.
   *
   * While this call runs, ErrorDetail() on the same thread tells why.
   *
   * @param text One of the eight fixed texts, which stay as they are so
   *   that hosts can compare them: "socket error.", "connect error.",
   *   "send error.", "timeout.", "init http parse.", "decode.",
   *   "param error." or "bad message."; or "cancelled." for a command the
   *   host cancelled (CancelToken), which a host that never cancels never
   *   sees.
   */
  virtual void OnError(std::wstring text) = 0;

  /**
   * @brief The answer to Create (1001), Kick (1002), Change (1003) or
   * DsCall (1006).
   *
   * @param flowId The FlowID of the answer, which names the command it
   *   answers.
   * @param code The server's result code (the answer's first value, read
   *   as a decimal number; 0 when it holds no digits).
   * @param text The server's result text (the answer's second value).
   */
  virtual void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) = 0;

  /// @brief A QAll answer without entries.
  virtual void OnQAllEmpty() = 0;

  /**
   * @brief One entry of a QAll answer; called once per entry, in order,
   * on one thread.
   *
   * What the eight texts mean lies with the server and the host; the
   * library passes them through. voicectl's simulator sends a session's
   * id, owner, topic, members, kicked count, last changed member, its
   * value and the end time. An answer with a single entry delivers each
   * text as it travelled, with its trailing comma.
   *
   * @param field1 The entry's first text.
   * @param field2 The entry's second text.
   * @param field3 The entry's third text.
   * @param field4 The entry's fourth text.
   * @param field5 The entry's fifth text.
   * @param field6 The entry's sixth text.
   * @param field7 The entry's seventh text.
   * @param field8 The entry's eighth text.
   */
  virtual void OnQAllEntry(std::wstring field1, std::wstring field2, std::wstring field3,
                           std::wstring field4, std::wstring field5, std::wstring field6,
                           std::wstring field7, std::wstring field8) = 0;

  /**
   * @brief The answer to QSingle: its eighteen values, in order.
   *
   * What they mean lies with the server and the host; the library passes
   * them through (an answer with fewer values gives empty texts for the
   * missing ones).
   *
   * @param value1 The answer's 1st value.
   * @param value2 The answer's 2nd value.
   * @param value3 The answer's 3rd value.
   * @param value4 The answer's 4th value.
   * @param value5 The answer's 5th value.
   * @param value6 The answer's 6th value.
   * @param value7 The answer's 7th value.
   * @param value8 The answer's 8th value.
   * @param value9 The answer's 9th value.
   * @param value10 The answer's 10th value.
   * @param value11 The answer's 11th value.
   * @param value12 The answer's 12th value.
   * @param value13 The answer's 13th value.
   * @param value14 The answer's 14th value.
   * @param value15 The answer's 15th value.
   * @param value16 The answer's 16th value.
   * @param value17 The answer's 17th value.
   * @param value18 The answer's 18th value.
   */
  virtual void OnQSingleResult(std::wstring value1, std::wstring value2, std::wstring value3,
                               std::wstring value4, std::wstring value5, std::wstring value6,
                               std::wstring value7, std::wstring value8, std::wstring value9,
                               std::wstring value10, std::wstring value11, std::wstring value12,
                               std::wstring value13, std::wstring value14, std::wstring value15,
                               std::wstring value16, std::wstring value17,
                               std::wstring value18) = 0;

 protected:
  /// @brief Not virtual: the library never deletes a sink.
  ~VoiceEventSink() = default;
};

/**
 * @brief The controller: sends commands to the server at serverAddress,
 * serverPort and reports their outcomes to its VoiceEventSink.
 *
 * @par Arguments of the commands
 * The meaning of the text arguments a, b, c, d (and of Change's number)
 * lies with the server and the host; the library sends them as the
 * request's field values, in order. The usual reading, the one voicectl
 * and its simulator use, is given with each command.
 *
 * @par Text arguments
 * Each text argument ends at its first U+0000. A text whose UTF-8 form
 * exceeds 255 bytes, or that holds a character XML 1.0 cannot carry (a
 * control character other than tab, line feed and carriage return,
 * U+FFFE, U+FFFF, or a surrogate without its partner), is refused with
 * "param error." on the calling thread and nothing is sent; ErrorDetail()
 * names the argument ("argument 2 holds U+0001, which XML cannot carry").
 */
class VC_API VoiceController {
 public:
  /**
   * @brief A controller without a server yet.
   * @param sink The host's callback object; not owned. It must outlive the
   *   controller and every outcome still to come.
   */
  explicit VoiceController(VoiceEventSink* sink);

  /// @brief Waits for the answers still in flight (at most their time-out)
  /// and delivers their outcomes first.
  ~VoiceController();

  /// @brief Not copyable: a controller owns its requests in flight.
  VoiceController(const VoiceController&) = delete;
  /// @brief Not copyable: a controller owns its requests in flight.
  VoiceController& operator=(const VoiceController&) = delete;

  /**
   * @brief Sends CREATE (FlowID 1001) with four values; the answer comes
   * to VoiceEventSink::OnCommandResult.
   * @param a First value; usually the id of the new session.
   * @param b Second value; usually its owner.
   * @param c Third value; usually its title.
   * @param d Fourth value; usually its members, e.g. "alice,bob".
   */
  void Create(std::wstring a, std::wstring b, std::wstring c, std::wstring d);

  /**
   * @brief Sends KICK (FlowID 1002); the answer comes to
   * VoiceEventSink::OnCommandResult.
   * @param a First value; usually the id of the session.
   * @param b Second value; usually the member to remove.
   */
  void Kick(std::wstring a, std::wstring b);

  /**
   * @brief Sends CHANGE (FlowID 1003); the answer comes to
   * VoiceEventSink::OnCommandResult.
   * @param a First value; usually the id of the session.
   * @param b Second value; usually the member whose setting changes.
   * @param n Third value, sent in decimal digits; usually the new setting.
   */
  void Change(std::wstring a, std::wstring b, uint16_t n);

  /// @brief Sends QALL (FlowID 1004); the answer comes as one
  /// VoiceEventSink::OnQAllEntry per entry, or VoiceEventSink::OnQAllEmpty.
  void QAll();

  /**
   * @brief Sends QSINGLE (FlowID 1005); the answer comes to
   * VoiceEventSink::OnQSingleResult.
   * @param a The value; usually the id of the session to describe.
   */
  void QSingle(std::wstring a);

  /**
   * @brief Sends DSCALL (FlowID 1006) with a, b and the local date and
   * time `durationSeconds` from now ("YYYY-MM-DD hh:mm:ss"); the answer
   * comes to VoiceEventSink::OnCommandResult.
   * @param a First value; usually the id of the session.
   * @param b Second value; usually the member who ends it.
   * @param durationSeconds How far from now the end time lies, in seconds.
   */
  void DsCall(std::wstring a, std::wstring b, uint32_t durationSeconds);

  /**
   * @brief Chooses how long the commands sent from now on wait: for the
   * connection, and for the answer.
   *
   * Each lies from 1 millisecond to 10 minutes; until the first call both
   * are 5 seconds. A command that runs out of its connect time-out reports
   * "connect error." on the calling thread, which it blocks that long at
   * most; one whose answer is not complete within the answer time-out,
   * counted from the moment the request went out, reports "timeout.".
   * ErrorDetail() names the time-out that ran out ("connect: no answer
   * within 250 ms", "no answer within 2 s"). A command already in flight
   * keeps the time-outs it started with.
   *
   * Call it as you set serverAddress: never while another call on this
   * controller runs, on another thread or in a callback of a command still
   * in flight.
   *
   * @param connect How long a command waits for the connection.
   * @param answer How long a command waits for the complete answer.
   * @return true when set; false, changing nothing, when either lies
   *   outside 1 ms to 10 minutes.
   */
  bool SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds answer) {
    return SetTimeoutsMs(static_cast<long long>(connect.count()),
                         static_cast<long long>(answer.count()));
  }

  /**
   * @brief Chooses whether a command call may block its caller.
   *
   * Off (the default): a command connects and sends on the calling thread,
   * which it blocks for at most the connect time-out, and reports there
   * the failures found before the request went out. On: a command only
   * queues its request and returns at once; the connect, the send and
   * every outcome, "param error." and "connect error." included, come on
   * a thread of the library (or, when none can be started, on the calling
   * thread, as "timeout."). For a GUI or event-loop thread that must never
   * wait. Commands already issued keep the mode they were issued in. Call
   * it as you set serverAddress.
   *
   * @param on true: command calls never block.
   */
  void SetNonblockingCalls(bool on);

  /// @brief What SetObserver asks for, or-ed together.
  enum Observe : unsigned {
    /// @brief Every log record goes to RequestObserver::OnLogRecord, and
    /// the log files are no longer written (unless kObserveKeepLogFiles).
    kObserveLogRecords = 1,
    /// @brief Every request's timeline goes to
    /// RequestObserver::OnRequestEvents once it has ended.
    kObserveRequestEvents = 2,
    /// @brief With kObserveLogRecords: the log files are written as well.
    kObserveKeepLogFiles = 4,
  };

  /**
   * @brief Lets `observer` watch the requests sent from now on: their log
   * records and their timelines (RequestObserver.h).
   *
   * Without an observer (the default, or null) nothing of this costs a
   * request anything. Call it as you set serverAddress; the observer must
   * outlive the requests it watches (those in flight when the controller
   * is destroyed end before the destructor returns).
   *
   * @param observer The observer, not owned; null: none.
   * @param what Observe bits; 0 acts as a null observer.
   */
  void SetObserver(RequestObserver* observer,
                   unsigned what = kObserveLogRecords | kObserveRequestEvents);

  /**
   * @brief Lets the host's own event loop carry this controller's
   * commands, with no thread of the library at all.
   *
   * From then on a command only creates its socket and begins a
   * non-blocking connect; the host waits on LoopDescriptor() (readable)
   * and on NextTimeoutMs() in its loop, and calls Process() when either
   * comes. Every sink call and observer call of those commands happens
   * inside Process(), on its thread, a failure found by the command call
   * itself ("param error.", "socket error.", a connect refused at once)
   * too. The time-outs, cancels (CancelToken), observers, error texts and
   * details are those of the other modes. Issue the commands and call
   * Process() from one thread at a time; only Wakeup() (and a cancel) may
   * come from other threads. A sink call may issue commands, cancel,
   * call Process() again, or destroy the controller. Destroying the
   * controller ends every command still in flight at once with
   * "cancelled." (detail "the controller was destroyed with the command
   * in flight") in the destructor, instead of waiting for the answers; one
   * destroyed from inside a sink call still completes that call's outcome
   * after the destructor has returned, and Process() then returns. The
   * descriptor closes with the controller (or, when destroyed inside
   * Process(), as Process() returns): take it out of the loop first.
   *
   * Once on, it stays on; commands issued before keep their threads. Call
   * it as you set serverAddress. See the host guide, "Driving the library
   * from your own loop", and vc_use_host_loop for the design.
   *
   * @return true when the controller is (now) driven by its host; false,
   *   changing nothing, when the system has no descriptor left.
   */
  bool UseHostLoop();

  /**
   * @brief What the host's loop waits on: on Linux a file descriptor to
   * watch for readability (an epoll descriptor), on Windows the HANDLE of
   * an event object to wait on; -1 unless UseHostLoop() is on.
   * @return The descriptor, or -1.
   */
  std::intptr_t LoopDescriptor() const;

  /**
   * @brief How long the host's loop may wait, at most, before it calls
   * Process(): milliseconds, 0 when Process() has work now, -1 when it
   * has no deadline (wait for the descriptor alone).
   * @return The milliseconds, 0 or -1.
   */
  int NextTimeoutMs() const;

  /**
   * @brief Takes every command that can move one step further (a connect
   * done, a request written, an answer read), ends those whose time-out
   * has run out, and delivers their outcomes to the sink, on this thread.
   * Never waits. Does nothing unless UseHostLoop() is on.
   */
  void Process();

  /**
   * @brief From any thread: makes the descriptor ready, so that the loop
   * waiting on it wakes and calls Process(), which returns after one pass.
   * For a host that hands its loop work of its own (say, commands its
   * other threads queued for the loop's thread).
   */
  void Wakeup();

  /**
   * @brief Takes the next sequence number; every command takes one.
   * @return 1, 2, ... 65534, then 1 again.
   */
  int32_t NextSeqNo();

  /**
   * @brief Sends a request the host built itself, like a command does:
   * connects (for at most the connect time-out), sends it once, logs it and
   * awaits its answer on a receive thread.
   * @param request The whole HTTP request, NUL-terminated.
   * @return 0 when it went out; -1 after its failure has been reported to
   *   the sink.
   */
  int SendRequest(const char* request);

  /**
   * @brief Turns a parsed answer into the sink call its FlowID selects, as
   * the receive thread does.
   * @param response An answer after HttpXmlRsp::Parse.
   */
  void DispatchResponse(HttpXmlRsp& response);

  /**
   * @brief Delivers the entries of a QAll answer to the sink: `count`
   * entries taken from eight comma-terminated lists (count 1: the texts
   * unsplit; count 0 or less: VoiceEventSink::OnQAllEmpty).
   * @param count The number of entries the answer announces.
   * @param list1 The first texts of the entries, each followed by a comma.
   * @param list2 The second texts of the entries, likewise.
   * @param list3 The third texts of the entries, likewise.
   * @param list4 The fourth texts of the entries, likewise.
   * @param list5 The fifth texts of the entries, likewise.
   * @param list6 The sixth texts of the entries, likewise.
   * @param list7 The seventh texts of the entries, likewise.
   * @param list8 The eighth texts of the entries, likewise.
   */
  void DeliverQAllResult(int32_t count, std::wstring list1, std::wstring list2, std::wstring list3,
                         std::wstring list4, std::wstring list5, std::wstring list6,
                         std::wstring list7, std::wstring list8);

  /// @brief The server's IPv4 address in dotted form ("192.0.2.7", as
  /// inet_addr reads it). Set it before the first command; the library
  /// never changes it. Anything else (a host name) fails the commands with
  /// "connect error.".
  std::string serverAddress;
  /// @brief The server's TCP port. Set it before the first command; the
  /// library never changes it.
  uint16_t serverPort = 0;

 private:
  friend class internal::RequestIssuer;
  friend class internal::ControllerTesting;
  friend class internal::Transport;
  struct Request;

  // `to` receives the outcome; the request keeps it until its last call.
  void SendCommand(const std::shared_ptr<VoiceEventSink>& to, int method, int32_t flowId,
                   const std::wstring* const* texts, int textCount, const char* lastValue);
  int SendRequestTo(const std::shared_ptr<VoiceEventSink>& to, const char* request);
  // SetTimeouts as the library exports it: under one name on every
  // platform, which the std::chrono form, whose count is long or long long
  // by platform, would not have.
  bool SetTimeoutsMs(long long connectMs, long long answerMs);
  // The receive thread's work; touches only the request, never the
  // controller, which may be gone once the sink has been called.
  static void ReceiveResponse(Request* request);
  // The same, keeping a host callback's exception on that thread.
  static void ReceiveOnThisThread(Request* request);

  VoiceEventSink* sink;
  std::atomic<int32_t> seqNo{0};
  // Unused since 1.1: the controller's settings live in the private object
  // receiveThreads points to. These two keep the class's size and layout,
  // which are part of the library's ABI, until the next major version.
  int64_t receiveTimeoutMs = 5000;
  bool failThreadStarts = false;

  std::unique_ptr<internal::ReceiveThreads> receiveThreads;
};

/**
 * @brief Why the error being reported on this thread happened.
 *
 * Readable while VoiceEventSink::OnError runs, on the thread of that call:
 * a short English text, UTF-8, made to be read and searched for, e.g.
 * "connect: Connection refused", "connect: no answer within 5 s" (the
 * connect time-out), "no answer within 5 s" (the answer time-out),
 * "peer closed before a complete answer",
 * "answer longer than 81919 bytes", "HTTP status 501",
 * "FlowID 2000 is not a command", "FieldNum 0 below 1 for FlowID 1001",
 * "argument 2 holds U+0001, which XML cannot carry". The wording may grow
 * more precise between versions; compare the error text, not the detail.
 *
 * @return The detail, valid until OnError returns; "" (never null) outside
 *   an OnError call.
 */
VC_API const char* ErrorDetail();

/**
 * @brief Chooses the directory of the two log files of this process.
 *
 * The library records the last request sent in SendVoiceMsg.log and the
 * last complete answer in RecvVoiceMsg.log, each file holding one record.
 * Each record replaces its file whole (written beside it, then renamed over
 * it), so a reader always finds one complete record, the previous or the
 * new one; the directory must let the library create files in it.
 * By default they lie in "../" of the working directory (the parent of the
 * directory the host runs in), found anew for every record. The setting
 * holds for every controller of the process and may change at any time,
 * also while requests are being logged. The library reads no environment
 * variable or file for it.
 *
 * @param utf8Dir The directory, UTF-8; a relative one is taken relative to
 *   the working directory at each record. NULL or "": back to the default.
 * @return true when the setting took effect (logging is on again if
 *   DisableLogs had turned it off); false, changing nothing, when the
 *   directory does not exist.
 */
VC_API bool SetLogDirectory(const char* utf8Dir);

/// @brief Writes no log files from now on, in the whole process, until
/// the next SetLogDirectory call.
VC_API void DisableLogs();

/**
 * @brief Tells whether an HTTP response is complete, as the receive thread
 * decides.
 * @param data The bytes received so far.
 * @param length Their count.
 * @return 1 when the header block has ended and, if a Content-Length
 *   header comes first among the headers, at least that many body bytes
 *   follow; 0 while more bytes are needed.
 */
VC_API int IsResponseComplete(const char* data, int length);

/**
 * @brief Splits a separator-terminated list, as QAll answers are split.
 * @param text The list: every item followed by the separator (the part
 *   after the last separator is dropped).
 * @param separator The separator; an empty one splits nothing.
 * @param list Receives the items, appended in order.
 */
VC_API void SplitList(const std::wstring& text, const std::wstring& separator,
                      std::vector<std::wstring>* list);

/**
 * @brief Chooses the code page that answers are decoded with, in this
 * process: a host setting like the server's address.
 *
 * A server that answers in GB2312 needs "GB2312" (or "GBK", "GB18030") on
 * a system whose code page is UTF-8. Call it before the first command.
 * Until it is called the code page is UTF-8 on Linux and the system's ANSI
 * code page on Windows. Requests carry the UTF-8 bytes of their arguments
 * whatever the choice.
 *
 * @param name In any letter case: "UTF-8", "GB18030", "GBK", "GB2312",
 *   "BIG5", "SHIFT_JIS", "EUC-KR", "WINDOWS-1252" and the forms "CP936",
 *   "CP950", "CP932", "CP949", "CP1252", "CP65001"; beyond these, any name
 *   the system's converter knows: on Linux an iconv name such as
 *   "ISO-8859-1" or "CP1251", on Windows "CPnnn" for a code page the system
 *   has. A name holds only ASCII letters, digits and "._:-".
 * @return true when chosen; false, changing nothing, for a name the system
 *   cannot convert, or for a code page that does not read and write ASCII
 *   as ASCII (UTF-16, UTF-7, EBCDIC).
 */
VC_API bool SetCodePage(const char* name);

}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_VOICECONTROLLER_H_
