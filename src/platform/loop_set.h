// The sockets of a controller that the host's own loop drives, behind one
// thing the host can wait on: on Linux an epoll descriptor, readable while
// any socket in the set is ready or the set has been woken; on Windows an
// event object that every socket of the set signals (WSAEventSelect).
//
// The set never waits itself: the host waits on Descriptor() and then the
// controller collects what is ready. Only Wake may be called beside the
// other calls, from any thread; everything else belongs to the loop's
// thread.
#ifndef VOICECONTROL_PLATFORM_LOOP_SET_H_
#define VOICECONTROL_PLATFORM_LOOP_SET_H_

#include <cstdint>
#include <memory>

#include "internal_export.h"

namespace voicecontrol {
namespace platform {

class TcpSocket;

class VC_INTERNAL_API LoopSet {
 public:
  // What a socket is watched for, and what a report says it is ready for.
  // A failed or ended connection is reported as both.
  static constexpr unsigned kReadable = 1;
  static constexpr unsigned kWritable = 2;

  struct Ready {
    uint64_t key = 0;    // as given to Add
    unsigned events = 0;
    int error = 0;       // a system error code the report carried; 0: none
  };

  LoopSet();
  ~LoopSet();
  LoopSet(const LoopSet&) = delete;
  LoopSet& operator=(const LoopSet&) = delete;

  // False when the system has nothing left to make the set with;
  // lastError() says why.
  bool Open();

  // What the host waits on: a file descriptor (Linux) or an event HANDLE
  // (Windows); -1 before Open.
  intptr_t Descriptor() const;

  // Watches `socket` for `events` under `key` (never 0), until it is
  // forgotten or closed. A socket is reported once per Add or Change:
  // Change it again (to the same events, too) to hear of it again. Where
  // WatchesBeforeConnect(), Add must come before the socket connects
  // (Windows reports the connection's end only to a socket watched
  // before); elsewhere it may come at any time, after a request has gone
  // out with the connect too. False: lastError() says why.
  bool Add(const TcpSocket& socket, uint64_t key, unsigned events);
  bool Change(const TcpSocket& socket, uint64_t key, unsigned events);
  static bool WatchesBeforeConnect();
  // Before the socket closes; harmless for a socket never added.
  void Forget(const TcpSocket& socket, uint64_t key);

  // From any thread: the descriptor becomes ready, and the next Collect
  // says it was woken.
  void Wake();

  // Whether Wake was called since the last Collect began; from the loop's
  // thread.
  bool WakePending() const;

  // True where the descriptor is ready only while a watched socket is (or
  // a Wake is pending): a socket read without Collect, its report left
  // uncollected, then keeps nothing ready once it has nothing more to read
  // (epoll looks again at what it reports). Windows' event stays signalled
  // until Collect resets it.
  static bool ReadyOnlyWhileSocketsAre();

  // Without waiting: fills `ready` with up to `capacity` sockets that are
  // ready now and returns their count; `woken` tells whether Wake was
  // called since the last Collect. Sockets beyond `capacity` stay ready
  // (the descriptor stays ready for them).
  int Collect(Ready* ready, int capacity, bool* woken);

  // The system error code of the last Open, Add or Change that failed.
  int lastError() const { return error_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int error_ = 0;
};

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_LOOP_SET_H_
