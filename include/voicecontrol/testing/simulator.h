/// @file
/// SimulatedServer: the simulated voice server of `voicectl serve`, as a
/// fixture a host's own tests start in-process.
///
/// @code
///   #include <voicecontrol/testing/simulator.h>
///
///   voicecontrol::testing::SimulatedServer server;     // 127.0.0.1, a free port
///   controller.serverAddress = server.address();
///   controller.serverPort = server.port();
///   server.QueueFault(voicecontrol::testing::Fault::CloseEarly());  // next answer only
///   controller.QAll();                                  // -> OnError("timeout.")
///   server.WaitForRequests(1, std::chrono::seconds(5));
///   server.Requests()[0].method;                        // "QALL"
/// @endcode
///
/// The server answers every command from an in-memory session model (the
/// table in docs/host-guide.md), one connection per request, one thread per
/// connection (at most 512 at once). What an answer looks like is decided per
/// request, in this order: what was set for that request's number
/// (SetFaultForRequest), the queue of its command kind (QueueFaultFor), the
/// queue of any kind (QueueFault, QueueAnswer), the scenario of its kind
/// (SetScenario), else the standing fault (SetStandingFault; by default a
/// correct answer). `voicectl serve --admin` offers the same through HTTP
/// and JSON (docs/simulator-admin.md).
///
/// The library is static and compiled with the host's tests: its structs
/// may grow between releases (new members come last).
///
/// Link `voicecontrol::testing` (Linux), or `libvoicecontrol_testing.a` from a
/// Windows zip with the zip's mingw-w64 toolchain (and `ws2_32`). On Windows
/// the test program initialises Windows Sockets and joins COM's multithreaded
/// apartment, as it does for the library: the server's threads read the
/// requests with the system's XML DOM. Every member function may be
/// called from any thread, also while requests are in flight.
#ifndef VOICECONTROL_TESTING_SIMULATOR_H_
#define VOICECONTROL_TESTING_SIMULATOR_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace voicecontrol {
namespace testing {

/// How one answer misbehaves. A default-constructed Fault is a correct answer;
/// fields combine (a delay and then a wrong FlowID, say).
struct Fault {
  int delayMs = 0;              ///< wait this long before answering
  bool closeEarly = false;      ///< close right after reading the request
  bool noAnswer = false;        ///< keep the connection open, never answer
  int status = 200;             ///< HTTP status code of the answer
  bool http10 = false;          ///< "HTTP/1.0" in the status line
  std::optional<int> flowId;    ///< this FlowID instead of the command's
  std::optional<int> fieldNum;  ///< this FieldNum instead of the value count
  bool garbage = false;         ///< a body that is not an interface message
  bool oversize = false;        ///< an answer of more than 80 KB
  bool partial = false;         ///< the header block, then never the body
  bool resetBeforeHeaders = false;  ///< reset the connection (RST) instead of answering
  bool resetAfterHeaders = false;   ///< send the header block, then reset the connection
  bool endMidBody = false;      ///< send the header block and half the body, then close
  int dribbleBytes = 0;         ///< send the answer this many bytes at a time (0: at once)
  int dribbleMs = 0;            ///< wait between two dribbled pieces
  int bodyDelayMs = 0;          ///< wait this long after the header block and half the body
  /// Above 0: misbehave for the first this many answers this fault is asked
  /// for (as standing fault, queue entry or scenario step), then answer
  /// correctly: a host's retries then succeed.
  int firstAttempts = 0;
  /// Misbehave for this share of the answers, drawn from `seed` (the same
  /// seed gives the same draws): 0 never, 1 always.
  double probability = 1.0;
  uint64_t seed = 0;  ///< seed of the draws for `probability`

  /// @return the fault in words, e.g. "delay=200 status=299", or "none".
  std::string Describe() const;

  /// @param milliseconds how long to wait before answering.
  /// @return a Fault with delayMs set.
  static Fault Delay(int milliseconds);
  /// @return a Fault with closeEarly set (the host gets "timeout." at once).
  static Fault CloseEarly();
  /// @return a Fault with noAnswer set (the host gets "timeout." after 5 s).
  static Fault NoAnswer();
  /// @param code the HTTP status code to answer with.
  /// @return a Fault with status set.
  static Fault Status(int code);
  /// @return a Fault with http10 set (the host gets "decode.").
  static Fault Http10();
  /// @param flowId the FlowID to put in the answer.
  /// @return a Fault with flowId set.
  static Fault FlowId(int flowId);
  /// @param fieldNum the FieldNum to put in the answer.
  /// @return a Fault with fieldNum set.
  static Fault FieldNum(int fieldNum);
  /// @return a Fault with garbage set (the host gets "bad message.").
  static Fault Garbage();
  /// @return a Fault with oversize set (the host gets "decode.").
  static Fault Oversize();
  /// @return a Fault with partial set (the host gets "timeout." after 5 s).
  static Fault Partial();
  /// @return a Fault with resetBeforeHeaders set (the host gets "timeout.").
  static Fault ResetBeforeHeaders();
  /// @return a Fault with resetAfterHeaders set (the host gets "timeout.").
  static Fault ResetAfterHeaders();
  /// @return a Fault with endMidBody set (the host gets "timeout.").
  static Fault EndMidBody();
  /// @param bytes how many bytes each piece holds (at least 1).
  /// @param intervalMs how long to wait between two pieces.
  /// @return a Fault with dribbleBytes and dribbleMs set (the host gets the
  ///         result, later).
  static Fault Dribble(int bytes, int intervalMs);
  /// @param milliseconds how long to wait in the middle of the body.
  /// @return a Fault with bodyDelayMs set.
  static Fault DelayInBody(int milliseconds);
  /// @param attempts how many answers misbehave before the correct ones.
  /// @param how how they misbehave.
  /// @return `how` with firstAttempts set.
  static Fault FailFirst(int attempts, Fault how = Fault::CloseEarly());
  /// @param probability the share of answers that misbehave, 0 to 1.
  /// @param seed the seed of the draws.
  /// @param how how they misbehave.
  /// @return `how` with probability and seed set.
  static Fault WithProbability(double probability, uint64_t seed, Fault how);
};

/// One step of a scenario: `times` answers of one command kind shaped so.
struct ScenarioStep {
  Fault fault;                      ///< how the answers misbehave
  std::optional<std::string> body;  ///< a scripted body; empty: the model's answer
  int times = 1;                    ///< how many answers; 0: every one from here on
};

/// An answer set up ahead and not yet given, as PlannedAnswers lists it.
struct PlannedAnswer {
  /// Which requests it is for: "next" (any kind), "next QALL", "request 7",
  /// "scenario QALL step 2" or "standing".
  std::string target;
  Fault fault;            ///< how it misbehaves
  bool scripted = false;  ///< it carries a scripted body
  int remaining = 0;      ///< answers it still shapes; 0: every one
};

/// The encoding of the answers' bodies. kGb2312 writes the text in GB2312
/// (characters outside it become '?') and declares encoding="GB2312";
/// kUtf8 writes UTF-8 and declares encoding="UTF-8". Requests are always
/// read as UTF-8, which is what the library sends.
enum class Encoding {
  kUtf8,   ///< UTF-8, declared "UTF-8" (the default).
  kGb2312  ///< GB2312, declared "GB2312".
};

/// One session of the model, as CREATE made it and later commands changed it.
struct Session {
  std::wstring id;       ///< CREATE's first value: the session's id
  std::wstring owner;    ///< CREATE's second value
  std::wstring title;    ///< CREATE's third value
  std::wstring members;  ///< CREATE's fourth value
  std::vector<std::wstring> kicked;        ///< KICK, in order
  std::wstring changedMember;  ///< the member of the last CHANGE
  std::wstring changedValue;   ///< the value of the last CHANGE
  std::wstring endTime;  ///< DSCALL's "YYYY-MM-DD hh:mm:ss" (local); empty: never ends
  std::chrono::system_clock::time_point createdAt;  ///< when CREATE made it
};

/// One request as the server received it.
struct ReceivedRequest {
  std::string raw;         ///< every byte read, header block and body
  bool isCommand = false;  ///< a command the model handled; false: answered 400 or 413
  std::string method;      ///< "CREATE", ...; empty when no command method was read
  int seqNo = 0;     ///< the request's Seq_No
  int flowId = 0;    ///< its FlowID
  int fieldNum = 0;  ///< its FieldNum
  std::vector<std::wstring> values;  ///< the Field_Value texts, in order
  /// Its place in arrival order, from 1 (counted since the start,
  /// ClearRequests or Reset): what SetFaultForRequest names.
  uint64_t number = 0;
  std::chrono::system_clock::time_point arrivedAt;  ///< when it was read whole
  bool answered = false;  ///< the exchange has ended: the members below are set
  std::chrono::system_clock::time_point answeredAt;  ///< when the exchange ended
  std::string fault;      ///< the fault applied, as Fault::Describe gives it
  bool scripted = false;  ///< the answer was a scripted body
  int status = 0;         ///< the answer's status code; 0: no status line was sent
  int answerFlowId = 0;   ///< the FlowID in the answer; 0: none
  std::string outcome;    ///< what the server did, e.g. "200 flow=1004 bytes=517"
};

/// An answer played back as it was once received from another server
/// (`voicectl serve --replay`), byte for byte.
struct RecordedAnswer {
  /// How the connection ends once the bytes are sent.
  enum class End {
    kClose,  ///< an orderly close
    kReset,  ///< a reset (RST)
    kHold    ///< kept open until the client closes it (the 30 s hold limit at most)
  };
  std::string bytes;   ///< sent as they are (none: nothing is sent)
  int delayMs = 0;     ///< waited before the first byte
  End end = End::kClose;  ///< what follows the bytes
  std::string note;    ///< said in the log line and the journal's outcome, e.g. "exchange 3"
};

/// How a SimulatedServer listens, answers and logs.
struct ServerOptions {
  std::string host = "127.0.0.1";  ///< dotted IPv4 address to listen on
  uint16_t port = 0;               ///< 0: any free port (see SimulatedServer::port)
  Encoding encoding = Encoding::kUtf8;  ///< the encoding of the answers
  /// Receives one line per exchange ("127.0.0.1:40112 QALL seq=1 ... -> 200");
  /// called from connection threads, one call at a time. Empty: silent.
  std::function<void(const std::string&)> log;
  /// Requests() keeps the most recent this many; RequestCount() counts all.
  size_t requestLogLimit = 10000;
  /// Asked first for each command request, from connection threads, several
  /// at once: an answer it returns is sent instead of any the server would
  /// make (the session model still handles the command; the fault plan is
  /// not consulted). Empty, or nothing returned: the server answers itself.
  std::function<std::optional<RecordedAnswer>(const ReceivedRequest&)> recorded;
};

/// The simulated voice server, listening on a thread of its own.
class SimulatedServer {
 public:
  /// Starts listening at once on 127.0.0.1, a free port. Throws
  /// std::runtime_error (with the reason) when the address cannot be bound.
  SimulatedServer();
  /// Starts listening at once. Throws std::runtime_error (with the reason)
  /// when the address cannot be bound.
  /// @param options where to listen, the answers' encoding, the log.
  explicit SimulatedServer(ServerOptions options);
  /// Stop().
  ~SimulatedServer();
  SimulatedServer(const SimulatedServer&) = delete;             ///< Not copyable.
  SimulatedServer& operator=(const SimulatedServer&) = delete;  ///< Not copyable.

  /// @return the dotted IPv4 address it listens on.
  std::string address() const;
  /// @return the port it listens on (never 0).
  uint16_t port() const;

  /// Stops accepting and ends every connection at once: a delayed answer is
  /// dropped, held connections are closed, partial reads end. Returns when
  /// every connection thread has been joined, well within 100 ms. Idempotent;
  /// a second caller also returns only once the server has stopped.
  void Stop();

  /// Makes the next answers misbehave, after those already queued.
  /// @param fault how they misbehave.
  /// @param count how many answers.
  void QueueFault(const Fault& fault, int count = 1);
  /// Makes the next answers carry exactly `body` (sent as "HTTP/1.1 200 OK"
  /// with its Content-Length). The model still handles each request.
  /// @param body the answer's body; AnswerBody builds one.
  /// @param count how many answers.
  /// @param fault shapes those answers further.
  void QueueAnswer(std::string body, int count = 1, const Fault& fault = Fault());
  /// Sets how answers misbehave once the queue is empty (what `voicectl
  /// serve`'s flags set).
  /// @param fault the standing fault; Fault() restores correct answers.
  void SetStandingFault(const Fault& fault);
  /// @return the standing fault.
  Fault standingFault() const;
  /// @return the answers still queued (a fault queued with count 3 counts 3).
  size_t QueuedAnswers() const;
  /// Drops every queued answer (of any kind, of one kind, for a request
  /// number).
  void ClearQueue();

  /// The command kinds, as request lines and ReceivedRequest::method name
  /// them: "CREATE", "KICK", "CHANGE", "QALL", "QSINGLE", "DSCALL". The
  /// functions below throw std::invalid_argument for any other.
  /// @param method a command kind.
  /// @return whether it is one.
  static bool IsCommandKind(const std::string& method);
  /// Makes the next answers to commands of one kind misbehave, after those
  /// already queued for that kind; they come before the queue of any kind.
  /// @param method the command kind.
  /// @param fault how they misbehave.
  /// @param count how many answers.
  void QueueFaultFor(const std::string& method, const Fault& fault, int count = 1);
  /// Makes the next answers to commands of one kind carry exactly `body`.
  /// @param method the command kind.
  /// @param body the answer's body.
  /// @param count how many answers.
  /// @param fault shapes those answers further.
  void QueueAnswerFor(const std::string& method, std::string body, int count = 1,
                      const Fault& fault = Fault());
  /// Shapes the answer to the request with this number (see
  /// ReceivedRequest::number), whatever its kind; replaces an earlier
  /// setting for that number.
  /// @param number the request's number, from 1.
  /// @param fault how it misbehaves.
  /// @param body a scripted body, or the model's answer.
  void SetFaultForRequest(uint64_t number, const Fault& fault,
                          std::optional<std::string> body = std::nullopt);
  /// Gives the answers to one command kind from a sequence, such as "answer
  /// A twice, then B" or "fail the first 3": each step shapes `times`
  /// answers, then the next step takes over; after the last, the standing
  /// fault. Replaces the kind's earlier scenario; no steps removes it.
  /// @param method the command kind.
  /// @param steps the sequence.
  void SetScenario(const std::string& method, std::vector<ScenarioStep> steps);
  /// Removes every scenario.
  void ClearScenarios();
  /// @return everything set up ahead: the queues, the request numbers, the
  ///         scenarios' steps still to come, and the standing fault when it
  ///         is not a correct answer, in the order they are consulted.
  std::vector<PlannedAnswer> PlannedAnswers() const;
  /// Back to the state of a new server (same address and port): no queued
  /// answers, scenarios or standing fault, no requests, no sessions.
  void Reset();

  /// @return every request received, oldest first (see requestLogLimit).
  std::vector<ReceivedRequest> Requests() const;
  /// @param method a command kind, or "" for every request.
  /// @param afterNumber only requests numbered above this (0: all).
  /// @return the requests kept that match, oldest first.
  std::vector<ReceivedRequest> Requests(const std::string& method, uint64_t afterNumber) const;
  /// @return the number of requests received since the start or
  ///         ClearRequests.
  size_t RequestCount() const;
  /// Waits until RequestCount() reaches `count`.
  /// @param count the number of requests to wait for.
  /// @param timeout how long to wait at most.
  /// @return true when reached, false on time-out.
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  /// Forgets the requests received and sets RequestCount() to 0.
  void ClearRequests();

  /// Adds a session to the model, replacing one with the same id.
  /// @param session the session.
  void AddSession(const Session& session);
  /// @return every session of the model, in id order.
  std::vector<Session> Sessions() const;
  /// @param id a session's id.
  /// @return the session, or nothing.
  std::optional<Session> FindSession(const std::wstring& id) const;
  /// Empties the model.
  void ClearSessions();

  /// The body of an answer as the server writes it, in UTF-8.
  /// @param seqNo the Seq_No.
  /// @param flowId the FlowID.
  /// @param values the values; FieldNum is their count; they are escaped.
  /// @return the document.
  static std::string AnswerBody(int seqNo, int flowId, const std::vector<std::wstring>& values);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TESTING_SIMULATOR_H_
