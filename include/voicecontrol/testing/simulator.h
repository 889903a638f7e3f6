/// @file
/// SimulatedServer: the simulated voice server of `voicectl serve`, as a
/// fixture a host's own tests start in-process.
///
///   #include <voicecontrol/testing/simulator.h>
///
///   voicecontrol::testing::SimulatedServer server;     // 127.0.0.1, a free port
///   controller.serverAddress = server.address();
///   controller.serverPort = server.port();
///   server.QueueFault(voicecontrol::testing::Fault::CloseEarly());  // next answer only
///   controller.QAll();                                  // -> OnError("timeout.")
///   server.WaitForRequests(1, std::chrono::seconds(5));
///   server.Requests()[0].method;                        // "QALL"
///
/// The server answers every command from an in-memory session model (the
/// table in the README), one connection per request, one thread per
/// connection (at most 512 at once). What an answer looks like is decided per
/// request, in this order: the front of the queue (QueueFault, QueueAnswer),
/// else the standing fault (SetStandingFault; by default a correct answer).
///
/// Linux only. Link `voicecontrol::testing`. Every member function may be
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

  /// "delay=200 status=299", or "none".
  std::string Describe() const;

  static Fault Delay(int milliseconds);
  static Fault CloseEarly();
  static Fault NoAnswer();
  static Fault Status(int code);
  static Fault Http10();
  static Fault FlowId(int flowId);
  static Fault FieldNum(int fieldNum);
  static Fault Garbage();
  static Fault Oversize();
  static Fault Partial();
};

/// The encoding of the answers' bodies. kGb2312 writes the text in GB2312
/// (characters outside it become '?') and declares encoding="GB2312";
/// kUtf8 writes UTF-8 and declares encoding="UTF-8". Requests are always
/// read as UTF-8, which is what the library sends.
enum class Encoding { kUtf8, kGb2312 };

/// One session of the model, as CREATE made it and later commands changed it.
struct Session {
  std::wstring id, owner, title, members;  ///< the four CREATE values
  std::vector<std::wstring> kicked;        ///< KICK, in order
  std::wstring changedMember, changedValue;  ///< the last CHANGE
  std::wstring endTime;  ///< DSCALL's "YYYY-MM-DD hh:mm:ss" (local); empty: never ends
  std::chrono::system_clock::time_point createdAt;
};

/// One request as the server received it.
struct ReceivedRequest {
  std::string raw;         ///< every byte read, header block and body
  bool isCommand = false;  ///< a command the model handled; false: answered 400 or 413
  std::string method;      ///< "CREATE", ...; empty when no command method was read
  int seqNo = 0;
  int flowId = 0;
  int fieldNum = 0;
  std::vector<std::wstring> values;  ///< the Field_Value texts, in order
};

struct ServerOptions {
  std::string host = "127.0.0.1";  ///< dotted IPv4 address to listen on
  uint16_t port = 0;               ///< 0: any free port (see SimulatedServer::port)
  Encoding encoding = Encoding::kUtf8;
  /// Receives one line per exchange ("127.0.0.1:40112 QALL seq=1 ... -> 200");
  /// called from connection threads, one call at a time. Empty: silent.
  std::function<void(const std::string&)> log;
  /// Requests() keeps the most recent this many; RequestCount() counts all.
  size_t requestLogLimit = 10000;
};

class SimulatedServer {
 public:
  /// Starts listening at once. Throws std::runtime_error (with the reason)
  /// when the address cannot be bound.
  SimulatedServer();
  explicit SimulatedServer(ServerOptions options);
  /// Stop().
  ~SimulatedServer();
  SimulatedServer(const SimulatedServer&) = delete;
  SimulatedServer& operator=(const SimulatedServer&) = delete;

  /// Where it listens: the dotted address and the port (never 0).
  std::string address() const;
  uint16_t port() const;

  /// Stops accepting and ends every connection at once: a delayed answer is
  /// dropped, held connections are closed, partial reads end. Returns when
  /// every connection thread has been joined, well within 100 ms. Idempotent;
  /// a second caller also returns only once the server has stopped.
  void Stop();

  /// The next `count` answers misbehave as `fault`, after those already queued.
  void QueueFault(const Fault& fault, int count = 1);
  /// The next `count` answers carry exactly `body` (sent as "HTTP/1.1 200 OK"
  /// with its Content-Length; `fault` may shape it further). The model still
  /// handles each request. AnswerBody builds such a body.
  void QueueAnswer(std::string body, int count = 1, const Fault& fault = Fault());
  /// How answers misbehave once the queue is empty (what `voicectl serve`'s
  /// flags set). Fault() restores correct answers.
  void SetStandingFault(const Fault& fault);
  Fault standingFault() const;
  /// Answers still queued (a fault queued with count 3 counts 3).
  size_t QueuedAnswers() const;
  void ClearQueue();

  /// Every request received, oldest first (see requestLogLimit).
  std::vector<ReceivedRequest> Requests() const;
  size_t RequestCount() const;
  /// Waits until RequestCount() reaches `count`; false on time-out.
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  void ClearRequests();

  /// The session model. AddSession replaces a session with the same id.
  void AddSession(const Session& session);
  std::vector<Session> Sessions() const;  ///< in id order
  std::optional<Session> FindSession(const std::wstring& id) const;
  void ClearSessions();

  /// The body of an answer as the server writes it, in UTF-8: Seq_No, FlowID,
  /// FieldNum (the count of `values`) and the values (escaped).
  static std::string AnswerBody(int seqNo, int flowId, const std::vector<std::wstring>& values);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TESTING_SIMULATOR_H_
