// A controller's requests carried by the host's own event loop, with no
// thread of the library.
//
// The host waits on one descriptor (Descriptor(): an epoll set on Linux,
// an event object on Windows) and on the time NextTimeoutMs() names, and
// calls Process() when either comes. Process collects the sockets that
// are ready and takes each request one step further: its non-blocking
// connect completes, its request is written (as far as the socket takes
// it), its answer is read as it arrives into the same bounded buffer as a
// receive thread's, with the same completeness check. Deadlines run out
// there too. Every outcome goes through Transport's Fail and Deliver, so
// texts, details, cancels, log records and timelines are a receive
// thread's.
//
// The command's call itself creates the socket, starts the connect and,
// where the system may make the connection within that call (POSIX),
// sends the request at once: against a near server the command then
// waits once, for its answer, and its socket is watched for that alone.
// Otherwise the socket is watched for the connection's end and the
// request goes out in Process. Whatever the call finds wrong (no socket, a
// refused argument, a connect that fails at once, a socket the set cannot
// take) waits in a list for the next Process, and the descriptor is made
// ready for it: callbacks run inside Process alone, on its thread. So a
// request whose log records go to a hook is sent in Process too.
//
// Only Wake (and a cancel, which wakes) come from other threads; every
// other call belongs to one thread at a time. A callback may issue
// commands, cancel, drive Process again, or destroy the controller: Close
// then ends every request still in flight with "cancelled.", and the drive
// call that is running keeps this object (and what KeepUntilReturn was
// given) alive until it returns, touching nothing else of the controller.
#ifndef VOICECONTROL_CONTROLLER_HOST_LOOP_H_
#define VOICECONTROL_CONTROLLER_HOST_LOOP_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/transport.h"
#include "platform/loop_set.h"

namespace voicecontrol {
namespace internal {

class HostLoop : public std::enable_shared_from_this<HostLoop> {
 public:
  using Request = Transport::Request;

  // Null when the system has no descriptor left for the set.
  static std::shared_ptr<HostLoop> Open();

  HostLoop() = default;
  ~HostLoop();
  HostLoop(const HostLoop&) = delete;
  HostLoop& operator=(const HostLoop&) = delete;

  intptr_t Descriptor() const { return set_.Descriptor(); }

  // The command's call: begins carrying `request` to `address`:`port`.
  // Never calls a callback.
  void Start(const std::shared_ptr<Request>& request, const char* address, uint16_t port,
             const char* bytes, size_t length);
  // Ends `request` at the next Process, before anything was sent.
  void Refuse(const std::shared_ptr<Request>& request, const char* text,
              const std::string& detail);

  // Milliseconds until Process has a deadline to end: 0 when it has work
  // now, -1 when no deadline is pending. The host waits that long at most,
  // so a command called outside Process with an earlier deadline wakes
  // the loop; one called before the host has asked since the last Process
  // need not.
  int NextTimeoutMs() const;

  // Takes every ready request one step on, ends those whose deadline has
  // passed, and delivers what Start and Refuse left for it.
  void Process();

  // From any thread: the descriptor becomes ready, and Process returns
  // after one pass (for a host that woke its loop for its own reasons).
  void Wake() { set_.Wake(); }

  // The controller goes: every request in flight ends now, "cancelled.".
  void Close();

  // Keeps `thing` alive until the outermost Process running now returns
  // (nothing when none runs): what the request being delivered still uses
  // of a controller destroyed from its callback. One thing, since a
  // controller is destroyed once.
  void KeepUntilReturn(std::shared_ptr<void> thing) noexcept;

  // Tests: the set refuses to watch a socket before its request has gone
  // out (failWatch), or for its answer (failAwait).
  bool failWatch = false;
  bool failAwait = false;

 private:
  struct Entry;
  enum class Phase { kConnecting, kSending, kReceiving };

  // Moves `entry` one step on after its socket was reported ready.
  void Advance(const std::shared_ptr<Entry>& entry, int reportedError);
  void Send(const std::shared_ptr<Entry>& entry);
  // The request has gone out: stamps, answer deadline, the sent record.
  void Written(Entry& entry, const char* bytes, size_t length);
  // Watches (or watches again) `entry`'s socket for `events`; false when
  // the set refuses.
  bool Watch(Entry& entry, unsigned events);
  // The one request in flight when it awaits its answer and Process may
  // read it without collecting the set; else null.
  std::shared_ptr<Entry> Awaited() const;
  void Read(const std::shared_ptr<Entry>& entry);
  void Expire(const std::shared_ptr<Entry>& entry);
  // Expire, unless the socket has become ready meanwhile: then the request
  // moves on first, and ends only if it is still due.
  void ExpireUnlessReady(const std::shared_ptr<Entry>& entry, int64_t now);
  // Leaves `entry` for Process to end with `text`.
  void Defer(const std::shared_ptr<Entry>& entry, const char* text, std::string detail);
  // Takes `entry` out of the loop; false when it had been taken already.
  bool Take(Entry& entry);
  void End(const std::shared_ptr<Entry>& entry, const char* text, const std::string& detail);
  void SetDeadline(Entry& entry, int64_t deadlineMs);

  platform::LoopSet set_;
  uint64_t lastKey_ = 0;
  std::unordered_map<uint64_t, std::shared_ptr<Entry>> entries_;
  std::set<std::pair<int64_t, uint64_t>> deadlines_;  // (monotonic ms, key)
  std::vector<std::shared_ptr<Entry>> deferred_;
  int driving_ = 0;  // Process calls running, nested ones too
  // Whether NextTimeoutMs has answered since the last Process began (or
  // ever: a host may wait before its first Process), and the monotonic
  // time its answer named (INT64_MAX: none). A command with an earlier
  // deadline, called outside Process, wakes the loop.
  mutable bool asked_ = true;
  mutable int64_t told_ = INT64_MAX;
  bool closed_ = false;
  std::shared_ptr<void> kept_;
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_HOST_LOOP_H_
