// The simulated voice server's sockets and threads. One accept thread hands
// each connection to a worker thread; a worker serves one connection at a
// time and then waits for the next, so at most kMaxConnections are served
// at once and threads are reused instead of started per request. Every
// wait watches a waker that Stop sets off, so nothing outlives Stop. The
// sockets are the tools' own (tools/common/net.h): POSIX or Windows Sockets.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/testing/simulator.h>

#include "exchange.h"
#include "fault_plan.h"
#include "journal.h"
#include "net.h"
#include "session_model.h"

namespace voicecontrol {
namespace testing {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kReadDeadlineMs = 5000;
constexpr int kHoldLimitMs = 30000;   // how long no-answer and partial hold a connection
constexpr int kLingerMs = 1000;       // how long a refused request's rest is drained
constexpr size_t kLingerBytes = 256 * 1024;
constexpr size_t kMaxConnections = 512;

int RemainingMs(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

using net::Failure;
using net::Ready;
using net::Socket;

}  // namespace

// How one exchange ended, for the journal and the log.
struct Ending {
  std::string outcome;  // "200 flow=1004 bytes=517", "closed early", ...
  int status = 0;
  int flowId = 0;
};

class SimulatedServer::Impl {
 public:
  explicit Impl(ServerOptions options);
  ~Impl() { Stop(); }

  void Stop();

  const ServerOptions options;
  uint16_t port = 0;
  SessionModel model;
  FaultPlan plan;
  Journal journal{options.requestLogLimit};

  std::mutex mutex;  // guards the connection state below

 private:
  struct Connection {
    Socket socket;
    std::string peer;
  };
  enum class ReadEnd { kComplete, kClosed, kTimedOut, kStopped, kNoLength, kTooLarge };

  void AcceptLoop();
  void WorkerLoop();
  void Serve(Socket& socket, const std::string& peer);
  void AnswerCommand(Socket& socket, ReceivedRequest request, std::string* line);
  bool AnswerRecorded(Socket& socket, const ReceivedRequest& request, std::string* line);
  void Respond(Socket& socket, const ReceivedRequest& request, const Reply& reply,
               Ending* ending);
  bool SendShaped(Socket& socket, const std::string& wire, const Fault& fault);
  bool SendPiece(Socket& socket, const std::string& wire, size_t from, size_t to,
                 const Fault& fault);
  void RecordRefusal(ReceivedRequest* request, int status, const std::string& outcome);
  ReadEnd ReadRequest(Socket& socket, std::string* data, RequestHead* head);
  bool SendAll(Socket& socket, const char* data, size_t length);
  void Refuse(Socket& socket, int status, const std::string& reason);
  void HoldOpen(Socket& socket);
  bool SleepUnlessStopped(int milliseconds);
  void Log(const std::string& line);

  net::Listener listener_;
  net::Waker waker_;  // Stop wakes it; every wait ends from then on
  bool stopping_ = false;
  std::deque<Connection> pending_;  // accepted, not yet taken by a worker
  size_t busy_ = 0;                 // connections being served
  size_t idle_ = 0;                 // workers waiting for a connection
  std::vector<std::thread> workers_;  // touched by the accept thread only
  std::thread acceptThread_;
  std::condition_variable workReady_;  // pending_ gained a connection, or stopping
  std::condition_variable capacity_;   // a connection ended, or stopping
  std::condition_variable stopCv_;     // stopping (ends delays)
  std::mutex logMutex_;
  std::mutex stopMutex_;  // held for the whole of Stop
};

SimulatedServer::Impl::Impl(ServerOptions opts)
    : options(std::move(opts)), listener_(options.host, options.port) {
  port = listener_.port();
  acceptThread_ = std::thread(&Impl::AcceptLoop, this);
}

void SimulatedServer::Impl::Stop() {
  std::lock_guard<std::mutex> stopping(stopMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping_) return;
    stopping_ = true;
  }
  workReady_.notify_all();
  capacity_.notify_all();
  stopCv_.notify_all();
  waker_.Wake();
  acceptThread_.join();
  for (std::thread& worker : workers_) worker.join();
  pending_.clear();  // closes them
  listener_.Close();
}

void SimulatedServer::Impl::AcceptLoop() {
  for (;;) {
    {
      // Beyond the bound, connections wait in the listen backlog.
      std::unique_lock<std::mutex> lock(mutex);
      capacity_.wait(lock, [this] {
        return stopping_ || busy_ + pending_.size() < kMaxConnections;
      });
      if (stopping_) return;
    }
    // The listener does not block: under load the backlog is rarely empty,
    // and a wait is only needed when it is.
    std::string peer;
    Socket socket = listener_.Accept(&peer);
    if (!socket.IsOpen()) {
      const Failure failure = net::LastFailure();
      if (failure == Failure::kWouldBlock) {
        const Ready ready = WaitFor(listener_.socket(), false, waker_, -1);
        if (ready == Ready::kStopped || ready == Ready::kFailed) return;
      } else if (failure == Failure::kNoResources) {
        // Out of descriptors: the connection stays queued; try again shortly
        // rather than spinning on a listener that stays readable.
        SleepUnlessStopped(10);
      }
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex);
    pending_.push_back({std::move(socket), std::move(peer)});
    if (pending_.size() > idle_ && workers_.size() < kMaxConnections) {
      ++idle_;  // counted idle from its start, so that no second one is started for it
      workers_.emplace_back(&Impl::WorkerLoop, this);
    }
    workReady_.notify_one();
  }
}

void SimulatedServer::Impl::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    workReady_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (stopping_) return;
    Connection connection = std::move(pending_.front());
    pending_.pop_front();
    --idle_;
    ++busy_;
    lock.unlock();
    Serve(connection.socket, connection.peer);
    lock.lock();
    --busy_;
    ++idle_;
    capacity_.notify_one();
  }
}

SimulatedServer::Impl::ReadEnd SimulatedServer::Impl::ReadRequest(Socket& socket,
                                                                  std::string* data,
                                                                  RequestHead* head) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kReadDeadlineMs);
  bool headRead = false;
  bool continued = false;
  char chunk[16384];
  for (;;) {
    if (!headRead && ReadHead(*data, head)) {
      headRead = true;
      if (!head->contentLength) return ReadEnd::kNoLength;
      if (head->headerEnd + *head->contentLength > kMaxRequestBytes) return ReadEnd::kTooLarge;
    }
    if (headRead) {
      const size_t whole = head->headerEnd + *head->contentLength;
      if (data->size() >= whole) {
        data->resize(whole);  // bytes beyond the announced body are not part of it
        return ReadEnd::kComplete;
      }
      // The client waits for this before it sends the body.
      if (head->expectContinue && !continued) {
        continued = true;
        if (!SendAll(socket, kContinueAnswer, sizeof(kContinueAnswer) - 1)) {
          return ReadEnd::kClosed;
        }
      }
    } else if (data->size() > kMaxRequestBytes) {
      return ReadEnd::kTooLarge;
    }
    // Most requests are already there when the connection is taken: read
    // first, wait only when nothing has arrived.
    const long n = socket.Receive(chunk, sizeof chunk);
    const Failure failure = n < 0 ? net::LastFailure() : Failure::kOther;
    if (n < 0 && failure == Failure::kInterrupted) continue;
    if (n < 0 && failure == Failure::kWouldBlock) {
      const Ready ready = WaitFor(socket, false, waker_, RemainingMs(deadline));
      if (ready == Ready::kStopped) return ReadEnd::kStopped;
      if (ready == Ready::kFailed) return ReadEnd::kClosed;
      if (ready == Ready::kTimedOut && RemainingMs(deadline) == 0) return ReadEnd::kTimedOut;
      continue;
    }
    if (n <= 0) return ReadEnd::kClosed;
    data->append(chunk, static_cast<size_t>(n));
  }
}

bool SimulatedServer::Impl::SendAll(Socket& socket, const char* data, size_t length) {
  while (length > 0) {
    const long n = socket.Send(data, length);
    const Failure failure = n < 0 ? net::LastFailure() : Failure::kOther;
    if (n < 0 && failure == Failure::kInterrupted) continue;
    if (n < 0 && failure == Failure::kWouldBlock) {
      // A peer that does not read must not hold up Stop.
      if (WaitFor(socket, true, waker_, kReadDeadlineMs) != Ready::kReady) return false;
      continue;
    }
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Answers a request that is no command, then reads what the client still
// sends for a while before closing, so that it sees the answer rather than
// a connection reset.
void SimulatedServer::Impl::Refuse(Socket& socket, int status, const std::string& reason) {
  const std::string answer = RefusalAnswer(status, reason);
  if (!SendAll(socket, answer.data(), answer.size())) return;
  socket.ShutdownWrite();
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kLingerMs);
  char sink[16384];
  for (size_t drained = 0; drained < kLingerBytes;) {
    if (WaitFor(socket, false, waker_, RemainingMs(deadline)) != Ready::kReady) return;
    const long n = socket.Receive(sink, sizeof sink);
    if (n <= 0) return;
    drained += static_cast<size_t>(n);
  }
}

// Keeps a connection open without answering until the peer closes it, the
// server stops, or the hold limit passes.
void SimulatedServer::Impl::HoldOpen(Socket& socket) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kHoldLimitMs);
  char sink[4096];
  while (WaitFor(socket, false, waker_, RemainingMs(deadline)) == Ready::kReady) {
    if (socket.Receive(sink, sizeof sink) <= 0) return;
  }
}

bool SimulatedServer::Impl::SleepUnlessStopped(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex);
  return !stopCv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return stopping_; });
}

void SimulatedServer::Impl::RecordRefusal(ReceivedRequest* request, int status,
                                          const std::string& outcome) {
  const uint64_t number = journal.Record(request);
  journal.Complete(number, [status, &outcome](ReceivedRequest& entry) {
    entry.status = status;
    entry.outcome = outcome;
  });
}

void SimulatedServer::Impl::Log(const std::string& line) {
  if (!options.log) return;
  std::lock_guard<std::mutex> lock(logMutex_);
  options.log(line);
}

void SimulatedServer::Impl::Serve(Socket& socket, const std::string& peer) {
  std::string line = peer + " ";
  ReceivedRequest request;
  RequestHead head;
  const ReadEnd end = ReadRequest(socket, &request.raw, &head);
  switch (end) {
    case ReadEnd::kClosed:
      line += "closed before a whole request";
      break;
    case ReadEnd::kTimedOut:
      line += "read deadline passed";
      break;
    case ReadEnd::kStopped:
      line += "server stopping";
      break;
    case ReadEnd::kNoLength:
      RecordRefusal(&request, 400, "no Content-Length -> 400");
      Refuse(socket, 400, "a request needs a Content-Length header");
      line += "no Content-Length -> 400";
      break;
    case ReadEnd::kTooLarge:
      RecordRefusal(&request, 413, "request too large -> 413");
      Refuse(socket, 413, "requests are limited to " + std::to_string(kMaxRequestBytes) + " bytes");
      line += "request too large -> 413";
      break;
    case ReadEnd::kComplete:
      ReadCommand(request.raw, head, &request);
      if (request.isCommand) {
        AnswerCommand(socket, std::move(request), &line);
      } else {
        RecordRefusal(&request, 400, "unreadable request -> 400");
        Refuse(socket, 400, "not a command request");
        line += "unreadable request -> 400";
      }
      break;
  }
  socket.Close();
  Log(line);
}

void SimulatedServer::Impl::AnswerCommand(Socket& socket, ReceivedRequest request,
                                          std::string* line) {
  if (AnswerRecorded(socket, request, line)) return;
  const uint64_t number = journal.Record(&request);
  const Reply reply = plan.Take(request.method, number);
  Ending ending;
  Respond(socket, request, reply, &ending);
  const std::string fault = reply.fault.Describe();
  journal.Complete(number, [&](ReceivedRequest& entry) {
    entry.fault = fault;
    entry.scripted = reply.body.has_value();
    entry.status = ending.status;
    entry.answerFlowId = ending.flowId;
    entry.outcome = ending.outcome;
  });
  *line += request.method + " seq=" + std::to_string(request.seqNo) +
           " values=" + std::to_string(request.values.size()) + " -> " + ending.outcome +
           (options.log ? " [faults: " + fault + "]" : "");
}

// Recorded answers (ServerOptions::recorded) ------------------------------

// Sends the recorded answer when there is one for `request`: its bytes after
// its wait, then the ending it had. False when the server answers itself.
bool SimulatedServer::Impl::AnswerRecorded(Socket& socket, const ReceivedRequest& request,
                                           std::string* line) {
  if (!options.recorded) return false;
  const std::optional<RecordedAnswer> played = options.recorded(request);
  if (!played) return false;
  ReceivedRequest entry = request;
  const uint64_t number = journal.Record(&entry);
  // Later requests that the server answers itself find the sessions these made.
  model.Handle(request.method, request.values, std::chrono::system_clock::now());
  std::string outcome = "recorded " + played->note;
  if (played->delayMs > 0 && !SleepUnlessStopped(played->delayMs)) {
    outcome += " (server stopping)";
  } else {
    const bool sent = SendAll(socket, played->bytes.data(), played->bytes.size());
    outcome += " bytes=" + std::to_string(played->bytes.size()) + (sent ? "" : " (send failed)");
    if (played->end == RecordedAnswer::End::kReset) {
      socket.ResetOnClose();
      outcome += " then reset";
    } else if (played->end == RecordedAnswer::End::kHold) {
      outcome += " then held open";
      HoldOpen(socket);
    }
  }
  // The status line as sent, when there was one.
  int status = 0;
  if (played->bytes.compare(0, 5, "HTTP/") == 0 && played->bytes.size() > 12) {
    status = std::atoi(played->bytes.c_str() + 9);
  }
  journal.Complete(number, [&](ReceivedRequest& done) {
    done.fault = "recorded";
    done.status = status;
    done.outcome = outcome;
  });
  *line += request.method + " seq=" + std::to_string(request.seqNo) +
           " values=" + std::to_string(request.values.size()) + " -> " + outcome;
  return true;
}

// Answers one command as `reply` says. Every way of ending early leaves the
// connection to Serve, which closes it (with a reset where one was asked).
void SimulatedServer::Impl::Respond(Socket& socket, const ReceivedRequest& request,
                                    const Reply& reply, Ending* ending) {
  const Fault& fault = reply.fault;
  const testing::Answer answer =
      model.Handle(request.method, request.values, std::chrono::system_clock::now());
  if (fault.delayMs > 0 && !SleepUnlessStopped(fault.delayMs)) {
    ending->outcome = "server stopping";
    return;
  }
  if (fault.closeEarly) {
    ending->outcome = "closed early";
    return;
  }
  if (fault.resetBeforeHeaders) {
    socket.ResetOnClose();
    ending->outcome = "reset before the headers";
    return;
  }
  if (fault.noAnswer) {
    ending->outcome = "no answer";
    HoldOpen(socket);
    return;
  }
  const std::string wire = BuildAnswer(request.seqNo, answer, reply.body, fault, options.encoding);
  const bool sent = SendShaped(socket, wire, fault);
  ending->status = fault.status;
  ending->flowId = fault.flowId.value_or(answer.flowId);
  ending->outcome = std::to_string(fault.status) + " flow=" + std::to_string(ending->flowId) +
                    " bytes=" + std::to_string(wire.size()) + (sent ? "" : " (send failed)") +
                    (reply.body ? " (scripted)" : "") +
                    (fault.resetAfterHeaders ? " (reset after the headers)" : "") +
                    (fault.endMidBody ? " (ended mid-body)" : "");
  if (fault.partial) HoldOpen(socket);
}

// The answer's bytes as the fault shapes their sending: cut after the
// header block or in the middle of the body, a pause in the body, pieces.
bool SimulatedServer::Impl::SendShaped(Socket& socket, const std::string& wire,
                                       const Fault& fault) {
  const size_t head = HeaderBlockLength(wire);
  const size_t middle = head + (wire.size() - head) / 2;
  if (fault.resetAfterHeaders) {
    const bool sent = SendPiece(socket, wire, 0, head, fault);
    socket.ResetOnClose();
    return sent;
  }
  if (fault.endMidBody) return SendPiece(socket, wire, 0, middle, fault);
  if (fault.bodyDelayMs > 0) {
    return SendPiece(socket, wire, 0, middle, fault) && SleepUnlessStopped(fault.bodyDelayMs) &&
           SendPiece(socket, wire, middle, wire.size(), fault);
  }
  return SendPiece(socket, wire, 0, wire.size(), fault);
}

// Bytes [from, to) of `wire`, at once or dribbled. Dribbled pieces go out
// without Nagle's delay, so that each leaves as a segment of its own.
bool SimulatedServer::Impl::SendPiece(Socket& socket, const std::string& wire, size_t from,
                                      size_t to, const Fault& fault) {
  if (fault.dribbleBytes <= 0) return SendAll(socket, wire.data() + from, to - from);
  socket.NoDelay();
  const size_t piece = static_cast<size_t>(fault.dribbleBytes);
  for (size_t at = from; at < to; at += piece) {
    if (at > from && fault.dribbleMs > 0 && !SleepUnlessStopped(fault.dribbleMs)) return false;
    if (!SendAll(socket, wire.data() + at, std::min(piece, to - at))) return false;
  }
  return true;
}

// SimulatedServer -------------------------------------------------------------

SimulatedServer::SimulatedServer() : SimulatedServer(ServerOptions()) {}
SimulatedServer::SimulatedServer(ServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}
SimulatedServer::~SimulatedServer() = default;

std::string SimulatedServer::address() const { return impl_->options.host; }
uint16_t SimulatedServer::port() const { return impl_->port; }
void SimulatedServer::Stop() { impl_->Stop(); }

void SimulatedServer::QueueFault(const Fault& fault, int count) {
  impl_->plan.Queue("", Reply{fault, std::nullopt}, count);
}

void SimulatedServer::QueueAnswer(std::string body, int count, const Fault& fault) {
  impl_->plan.Queue("", Reply{fault, std::move(body)}, count);
}

void SimulatedServer::SetStandingFault(const Fault& fault) { impl_->plan.SetStanding(fault); }
Fault SimulatedServer::standingFault() const { return impl_->plan.Standing(); }
size_t SimulatedServer::QueuedAnswers() const { return impl_->plan.QueuedCount(); }
void SimulatedServer::ClearQueue() { impl_->plan.ClearQueues(); }

bool SimulatedServer::IsCommandKind(const std::string& method) {
  // The first three methods of the table are plain HTTP ones, no commands.
  for (int i = kHttpXmlKick; i < kHttpXmlMethodCount; ++i) {
    if (method == HttpXmlMethod[i]) return true;
  }
  return false;
}

namespace {
void RequireCommandKind(const std::string& method) {
  if (!SimulatedServer::IsCommandKind(method)) {
    throw std::invalid_argument("not a command kind: \"" + method +
                                "\" (CREATE, KICK, CHANGE, QALL, QSINGLE or DSCALL)");
  }
}
}  // namespace

void SimulatedServer::QueueFaultFor(const std::string& method, const Fault& fault, int count) {
  RequireCommandKind(method);
  impl_->plan.Queue(method, Reply{fault, std::nullopt}, count);
}

void SimulatedServer::QueueAnswerFor(const std::string& method, std::string body, int count,
                                     const Fault& fault) {
  RequireCommandKind(method);
  impl_->plan.Queue(method, Reply{fault, std::move(body)}, count);
}

void SimulatedServer::SetFaultForRequest(uint64_t number, const Fault& fault,
                                         std::optional<std::string> body) {
  impl_->plan.ForRequest(number, Reply{fault, std::move(body)});
}

void SimulatedServer::SetScenario(const std::string& method, std::vector<ScenarioStep> steps) {
  RequireCommandKind(method);
  impl_->plan.SetScenario(method, steps);
}

void SimulatedServer::ClearScenarios() { impl_->plan.ClearScenarios(); }
std::vector<PlannedAnswer> SimulatedServer::PlannedAnswers() const {
  return impl_->plan.Planned();
}

void SimulatedServer::Reset() {
  impl_->plan.Reset();
  impl_->journal.Clear();
  impl_->model.Clear();
}

std::vector<ReceivedRequest> SimulatedServer::Requests() const {
  return impl_->journal.Entries("", 0);
}

std::vector<ReceivedRequest> SimulatedServer::Requests(const std::string& method,
                                                       uint64_t afterNumber) const {
  return impl_->journal.Entries(method, afterNumber);
}

size_t SimulatedServer::RequestCount() const {
  return static_cast<size_t>(impl_->journal.Count());
}

bool SimulatedServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  return impl_->journal.WaitForCount(count, timeout);
}

void SimulatedServer::ClearRequests() { impl_->journal.Clear(); }

void SimulatedServer::AddSession(const Session& session) { impl_->model.Add(session); }
std::vector<Session> SimulatedServer::Sessions() const { return impl_->model.All(); }
std::optional<Session> SimulatedServer::FindSession(const std::wstring& id) const {
  return impl_->model.Find(id);
}
void SimulatedServer::ClearSessions() { impl_->model.Clear(); }

std::string SimulatedServer::AnswerBody(int seqNo, int flowId,
                                        const std::vector<std::wstring>& values) {
  return AnswerBodyText(seqNo, flowId, std::nullopt, values, Encoding::kUtf8);
}

}  // namespace testing
}  // namespace voicecontrol
