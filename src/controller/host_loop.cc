// A controller's requests carried by the host's loop (host_loop.h), and
// VoiceController's calls for that mode.
#include "controller/host_loop.h"

#include <climits>

#include "controller/answer_buffer.h"
#include "controller/cancel.h"
#include "controller/error_texts.h"
#include "controller/forced_unwind.h"
#include "controller/receive_threads.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace voicecontrol {
namespace internal {

namespace {

// Sockets taken from the set per Process. More stay ready and keep the
// descriptor ready, so the host comes back for them after its other work.
constexpr int kReadyAtOnce = 64;

constexpr char kDestroyedDetail[] = "the controller was destroyed with the command in flight";

// Runs one step of a request. An exception out of it comes from a C++
// host's sink, after the outcome it belongs to: like a receive thread, the
// loop carries on with the other requests rather than leave them half
// done. A thread's forced end goes on.
template <typename Step>
VC_CATCHES_FORCED_UNWIND void Guarded(Step& step) {
  try {
    step();
  } VC_RETHROW_FORCED_UNWIND catch (...) {
  }
}

}  // namespace

struct HostLoop::Entry {
  std::shared_ptr<Request> request;
  uint64_t key = 0;
  Phase phase = Phase::kConnecting;
  size_t sent = 0;        // bytes of request->bytes written so far
  int64_t deadline = -1;  // in deadlines_ while >= 0
  bool added = false;     // its socket is in the set
  bool armed = false;     // watched, and not reported since
  bool ended = false;     // taken out; its outcome is being delivered
  // A request ended before Process (Defer): how.
  const char* failText = nullptr;
  std::string failDetail;
  AnswerBuffer answer;
};

std::shared_ptr<HostLoop> HostLoop::Open() {
  auto loop = std::make_shared<HostLoop>();
  if (!loop->set_.Open()) return nullptr;
  return loop;
}

HostLoop::~HostLoop() = default;

void HostLoop::Start(const std::shared_ptr<Request>& request, const char* address, uint16_t port,
                     const char* bytes, size_t length) {
  // A command issued by a callback of the controller's own end: nothing is
  // left to carry it.
  if (closed_) return Transport::Fail(*request, kCancelled, kDestroyedDetail);
  auto entry = std::make_shared<Entry>();
  entry->request = request;
  entry->key = ++lastKey_;
  Request& r = *request;
  platform::TcpSocket& socket = r.socket;
  // Non-blocking from its creation: the connect needs no switch.
  if (!socket.Create(/*nonBlocking=*/true)) {
    return Defer(entry, kSocketError, "socket: " + platform::SocketErrorText(socket.lastError().code));
  }
  // A cancel from now on shuts the socket down and wakes the loop, which
  // then ends the request. One that came first is told by Fail.
  if (r.cancel != nullptr && !r.cancel->Attach(&socket, &set_)) return Defer(entry, kCancelled, "");
  Transport::Stamp(r, &RequestEvents::connectStartedUs);
  if (platform::LoopSet::WatchesBeforeConnect() &&
      !Watch(*entry, platform::LoopSet::kWritable)) {
    return Defer(entry, kSocketError,
                 "the socket cannot be watched: " + platform::SocketErrorText(set_.lastError()));
  }
  // A log hook is called inside Process alone, with the request's record
  // after it went out: such a request only connects here.
  long sent = 0;
  switch (socket.StartConnectAndSend(address, port, bytes, r.logRecords ? 0 : length, &sent)) {
    case platform::TcpSocket::Starting::kConnectFailed:
      return Defer(entry, kConnectError, Transport::ConnectFailed(r, address));
    case platform::TcpSocket::Starting::kSendFailed:
      Transport::Stamp(r, &RequestEvents::connectedUs);
      return Defer(entry, kSendError,
                   Transport::SendFailure(
                       r, socket.lastError().kind == platform::SocketError::Kind::kNone ? sent : -1,
                       length));
    case platform::TcpSocket::Starting::kSent:
      Transport::Stamp(r, &RequestEvents::connectedUs);
      Written(*entry, bytes, length);
      break;
    case platform::TcpSocket::Starting::kPending:
      // Process sends the rest once the socket is writable.
      if (length > 0) r.bytes.assign(bytes, length);
      entry->sent = static_cast<size_t>(sent);
      if (sent > 0) {
        Transport::Stamp(r, &RequestEvents::connectedUs);
        entry->phase = Phase::kSending;
      }
      break;
  }
  if (entry->phase == Phase::kReceiving) {
    if (!Watch(*entry, platform::LoopSet::kReadable)) {
      return Defer(entry, kTimeout,
                   "the answer cannot be awaited: " + platform::SocketErrorText(set_.lastError()));
    }
  } else {
    if (!Watch(*entry, platform::LoopSet::kWritable)) {
      return Defer(entry, kSocketError,
                   "the socket cannot be watched: " + platform::SocketErrorText(set_.lastError()));
    }
    // A server that takes no more of the request is given the answer
    // time-out, as in Advance.
    SetDeadline(*entry, platform::MonotonicMilliseconds() +
                            (entry->phase == Phase::kSending ? r.timeoutMs : r.connectTimeoutMs));
  }
  entries_.emplace(entry->key, entry);
  // Called outside Process with a deadline before the time the host was
  // last told: it may be waiting that long, or with no time-out at all (a
  // timer an adapter armed before). Waking it makes it ask NextTimeoutMs
  // again. Inside Process, or before the host has asked since the last
  // one, the host asks anyway before it waits; once woken, it comes back
  // and asks, so the commands called until then need not wake it again.
  if (driving_ == 0 && asked_ && entry->deadline < told_) {
    set_.Wake();
    asked_ = false;
  }
}

void HostLoop::Refuse(const std::shared_ptr<Request>& request, const char* text,
                      const std::string& detail) {
  if (closed_) return Transport::Fail(*request, text, detail);
  auto entry = std::make_shared<Entry>();
  entry->request = request;
  entry->key = ++lastKey_;
  Defer(entry, text, detail);
}

void HostLoop::Defer(const std::shared_ptr<Entry>& entry, const char* text, std::string detail) {
  entry->failText = text;
  entry->failDetail = std::move(detail);
  deferred_.push_back(entry);
  set_.Wake();
}

int HostLoop::NextTimeoutMs() const {
  asked_ = true;
  if (!deferred_.empty()) return told_ = INT64_MIN, 0;
  if (deadlines_.empty()) return told_ = INT64_MAX, -1;
  told_ = deadlines_.begin()->first;
  const int64_t left = told_ - platform::MonotonicMilliseconds();
  return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

void HostLoop::Process() {
  // A callback may destroy the controller, and with it the last other
  // owner of this object: it lives until this call returns.
  const std::shared_ptr<HostLoop> self = shared_from_this();
  struct Driving {
    HostLoop& loop;
    explicit Driving(HostLoop& driven) : loop(driven) { ++loop.driving_; }
    ~Driving() {
      if (--loop.driving_ == 0) loop.kept_.reset();
    }
  } driving(*this);
  // The host asks NextTimeoutMs again once this returns.
  asked_ = false;

  platform::LoopSet::Ready ready[kReadyAtOnce];
  bool woken = false;
  int count = 0;
  if (const std::shared_ptr<Entry> alone = Awaited()) {
    // One answer awaited and nothing else to learn from the set: read it
    // without asking the set which socket is ready (a system call per
    // command of a host that keeps one in flight). Its report, if any,
    // stays uncollected and armed; the set stops being ready for it once
    // nothing is left to read (ReadyOnlyWhileSocketsAre), and the
    // socket's close takes it out.
    auto step = [&] { Read(alone); };
    Guarded(step);
  } else if (!closed_) {
    count = set_.Collect(ready, kReadyAtOnce, &woken);
  }
  // Each step looks its request up anew: a callback of an earlier one may
  // have ended it (a cancel, a nested Process, the controller's end).
  for (int i = 0; i < count && !closed_; ++i) {
    const auto found = entries_.find(ready[i].key);
    if (found == entries_.end()) continue;
    std::shared_ptr<Entry> entry = found->second;
    entry->armed = false;
    const int reported = ready[i].error;
    auto step = [&] { Advance(entry, reported); };
    Guarded(step);
  }
  if (woken && !closed_) {
    // A cancel wakes the loop: end what was cancelled, whether or not its
    // shut-down socket has reported anything.
    std::vector<std::shared_ptr<Entry>> cancelled;
    for (const auto& [key, entry] : entries_) {
      const CancelPoint* cancel = entry->request->cancel;
      if (cancel != nullptr && cancel->cancelled()) cancelled.push_back(entry);
    }
    for (const auto& entry : cancelled) {
      auto step = [&] { End(entry, kCancelled, ""); };
      Guarded(step);
    }
  }
  const int64_t now = platform::MonotonicMilliseconds();
  while (!closed_ && !deadlines_.empty() && deadlines_.begin()->first <= now) {
    const auto found = entries_.find(deadlines_.begin()->second);
    if (found == entries_.end()) {
      deadlines_.erase(deadlines_.begin());
      continue;
    }
    std::shared_ptr<Entry> entry = found->second;
    auto step = [&] { ExpireUnlessReady(entry, now); };
    Guarded(step);
  }
  // What the command calls found, in the order they found it; ended even
  // when the controller has gone meanwhile, since Fail needs only the
  // request.
  std::vector<std::shared_ptr<Entry>> due;
  due.swap(deferred_);
  for (const auto& entry : due) {
    auto step = [&] { End(entry, entry->failText, entry->failDetail); };
    Guarded(step);
  }
}

void HostLoop::Advance(const std::shared_ptr<Entry>& entry, int reportedError) {
  Request& r = *entry->request;
  switch (entry->phase) {
    case Phase::kConnecting:
      if (!r.socket.FinishConnect(reportedError)) {
        return End(entry, kConnectError, Transport::ConnectFailed(r, ""));
      }
      Transport::Stamp(r, &RequestEvents::connectedUs);
      entry->phase = Phase::kSending;
      // A server that takes no more of the request is given the answer
      // time-out, as a receive thread's blocking send would not be.
      SetDeadline(*entry, platform::MonotonicMilliseconds() + r.timeoutMs);
      return Send(entry);
    case Phase::kSending:
      return Send(entry);
    case Phase::kReceiving:
      return Read(entry);
  }
}

void HostLoop::Send(const std::shared_ptr<Entry>& entry) {
  Request& r = *entry->request;
  const std::string& bytes = r.bytes;
  if (bytes.empty()) return End(entry, kSendError, Transport::SendFailure(r, 0, 0));
  while (entry->sent < bytes.size()) {
    const long sent = r.socket.SendNow(bytes.data() + entry->sent, bytes.size() - entry->sent);
    if (sent == platform::TcpSocket::kNothingYet) {
      if (Watch(*entry, platform::LoopSet::kWritable)) return;
      return End(entry, kSocketError,
                 "the socket cannot be watched: " + platform::SocketErrorText(set_.lastError()));
    }
    if (sent < 1) return End(entry, kSendError, Transport::SendFailure(r, sent, bytes.size()));
    entry->sent += static_cast<size_t>(sent);
  }
  Written(*entry, bytes.data(), bytes.size());
  if (entry->ended) return;
  if (!Watch(*entry, platform::LoopSet::kReadable)) {
    return End(entry, kTimeout,
               "the answer cannot be awaited: " + platform::SocketErrorText(set_.lastError()));
  }
}

void HostLoop::Written(Entry& entry, const char* bytes, size_t length) {
  Request& r = *entry.request;
  Transport::Stamp(r, &RequestEvents::requestWrittenUs);
  r.timeline.bytesOut = length;
  r.deadlineMs = platform::MonotonicMilliseconds() + r.timeoutMs;
  // Receiving before the record is written: a log hook that drives the
  // loop again finds the request past its send.
  entry.phase = Phase::kReceiving;
  SetDeadline(entry, r.deadlineMs);
  // Sent, logged, then awaited: every outcome comes after the record.
  Transport::Log(r, true, bytes, length);
}

bool HostLoop::Watch(Entry& entry, unsigned events) {
  if (entry.phase == Phase::kReceiving ? failAwait : failWatch) return false;
  const platform::TcpSocket& socket = entry.request->socket;
  if (entry.added) return entry.armed = set_.Change(socket, entry.key, events);
  return entry.added = entry.armed = set_.Add(socket, entry.key, events);
}

std::shared_ptr<HostLoop::Entry> HostLoop::Awaited() const {
  if (closed_ || entries_.size() != 1 || !deferred_.empty() ||
      !platform::LoopSet::ReadyOnlyWhileSocketsAre() || set_.WakePending()) {
    return nullptr;
  }
  const std::shared_ptr<Entry>& entry = entries_.begin()->second;
  return entry->phase == Phase::kReceiving && entry->armed ? entry : nullptr;
}

void HostLoop::Read(const std::shared_ptr<Entry>& entry) {
  Request& r = *entry->request;
  AnswerBuffer& response = entry->answer;
  std::string detail;
  for (;;) {
    if (const char* text = Transport::MakeRoom(response, &detail)) return End(entry, text, detail);
    const long got =
        r.socket.ReceiveNow(response.room(), static_cast<size_t>(response.roomSize()));
    if (got == platform::TcpSocket::kNothingYet) {
      if (entry->armed || Watch(*entry, platform::LoopSet::kReadable)) return;
      return End(entry, kTimeout,
                 "the answer cannot be awaited: " + platform::SocketErrorText(set_.lastError()));
    }
    if (const char* text = Transport::Absorb(r, response, got, &detail)) {
      return End(entry, text, detail);
    }
    if (IsResponseComplete(response.data(), response.size())) break;
  }
  Transport::Stamp(r, &RequestEvents::answerCompleteUs);
  if (!Take(*entry)) return;
  Transport::Deliver(r, response.data(), response.size());
}

void HostLoop::Expire(const std::shared_ptr<Entry>& entry) {
  const Request& r = *entry->request;
  switch (entry->phase) {
    case Phase::kConnecting:
      return End(entry, kConnectError, Transport::ConnectTimedOut(r));
    case Phase::kSending:
      return End(entry, kSendError,
                 "send: the server took no more of the request within " + DescribeWait(r.timeoutMs));
    case Phase::kReceiving:
      return End(entry, kTimeout, Transport::NoAnswer(r));
  }
}

// A pass takes kReadyAtOnce ready sockets at most, and one that writes
// log files or runs long callbacks for many requests may outlast a
// deadline: a socket that connected, or whose answer arrived, long before
// its deadline may not have been taken yet. Its request is not ended as
// timed out for the loop's delay: it moves on first, and ends only if it
// is still due then. Each request gets this one look per pass, so a
// stream of bytes cannot hold the pass.
void HostLoop::ExpireUnlessReady(const std::shared_ptr<Entry>& entry, int64_t now) {
  int reported = 0;
  if (entry->phase != Phase::kConnecting || entry->request->socket.ConnectEnded(&reported)) {
    Advance(entry, reported);
  }
  if (!entry->ended && entry->deadline >= 0 && entry->deadline <= now) Expire(entry);
}

bool HostLoop::Take(Entry& entry) {
  if (entry.ended) return false;
  entry.ended = true;
  entries_.erase(entry.key);
  SetDeadline(entry, -1);
  if (entry.added) set_.Forget(entry.request->socket, entry.key);
  return true;
}

void HostLoop::End(const std::shared_ptr<Entry>& entry, const char* text,
                   const std::string& detail) {
  if (Take(*entry)) Transport::Fail(*entry->request, text, detail);
}

void HostLoop::SetDeadline(Entry& entry, int64_t deadlineMs) {
  if (entry.deadline >= 0) deadlines_.erase({entry.deadline, entry.key});
  entry.deadline = deadlineMs;
  if (deadlineMs >= 0) deadlines_.emplace(deadlineMs, entry.key);
}

void HostLoop::Close() {
  closed_ = true;
  std::vector<std::shared_ptr<Entry>> inFlight;
  inFlight.reserve(entries_.size());
  for (const auto& [key, entry] : entries_) inFlight.push_back(entry);
  std::vector<std::shared_ptr<Entry>> due;
  due.swap(deferred_);
  for (const auto& entry : inFlight) {
    auto step = [&] { End(entry, kCancelled, kDestroyedDetail); };
    Guarded(step);
  }
  for (const auto& entry : due) {
    auto step = [&] { End(entry, entry->failText, entry->failDetail); };
    Guarded(step);
  }
}

void HostLoop::KeepUntilReturn(std::shared_ptr<void> thing) noexcept {
  if (driving_ > 0) kept_ = std::move(thing);
}

}  // namespace internal

bool VoiceController::UseHostLoop() {
  auto& loop = receiveThreads->options.hostLoop;
  if (loop == nullptr) loop = internal::HostLoop::Open();
  return loop != nullptr;
}

std::intptr_t VoiceController::LoopDescriptor() const {
  const auto& loop = receiveThreads->options.hostLoop;
  return loop == nullptr ? -1 : loop->Descriptor();
}

int VoiceController::NextTimeoutMs() const {
  const auto& loop = receiveThreads->options.hostLoop;
  return loop == nullptr ? -1 : loop->NextTimeoutMs();
}

void VoiceController::Process() {
  if (const auto& loop = receiveThreads->options.hostLoop) loop->Process();
}

void VoiceController::Wakeup() {
  if (const auto& loop = receiveThreads->options.hostLoop) loop->Wake();
}

}  // namespace voicecontrol
