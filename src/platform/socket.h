// TCP stream sockets over IPv4, as the controller and its test servers use
// them: a connect bounded in time, blocking send, a readiness wait with a
// time-out, and plain reads. Every call reports failure by its result, and
// the socket keeps why (lastError()); none throws.
//
// The host process initialises the socket library where the system needs
// it (Windows Sockets); this layer never does.
#ifndef VOICECONTROL_PLATFORM_SOCKET_H_
#define VOICECONTROL_PLATFORM_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "internal_export.h"

namespace voicecontrol {
namespace platform {

enum class WaitResult { kReady, kTimedOut, kFailed };

// Why the last failed call on a socket failed.
struct SocketError {
  enum class Kind {
    kNone,
    kSystem,      // the system refused; `code` tells why
    kTimedOut,    // a connection attempt got no answer in time
    kBadAddress,  // the address is not one inet_addr reads
  };
  Kind kind = Kind::kNone;
  int code = 0;  // kSystem: errno, or the Windows Sockets error code
};

// True when `text` is an IPv4 address that Connect accepts: a dotted
// address as inet_addr reads it ("192.0.2.7", also its short forms such as
// "127.1"), not a host name.
VC_INTERNAL_API bool IsDottedIPv4(const char* text);

// The system's description of socket error `code`, in English on every
// platform ("Connection refused"), for texts meant for people.
VC_INTERNAL_API std::string SocketErrorText(int code);

// One connected (or connecting) TCP socket. Move-only; the destructor
// closes it.
class VC_INTERNAL_API TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Creates an IPv4 stream socket. False when the system refuses one.
  // `nonBlocking` (POSIX; ignored on Windows): the socket never blocks,
  // as ConnectAndSend wants it.
  bool Create(bool nonBlocking = false);

  // Connects to `dottedAddress`:`port` within `timeoutMs` and sends
  // `length` bytes of `data`, as Connect then Send would; `*sent` counts
  // the bytes the system took. On POSIX (the socket made non-blocking by
  // Create) the send goes first and the wait for the connection only
  // follows when it is not made yet: against a near server the connection
  // is made within the connect call, and the wait and its system calls are
  // saved. The socket then stays non-blocking: read it with ReceiveNow and
  // WaitReadable. kConnectFailed, kSendFailed: lastError() says why (with
  // kSendFailed and nothing wrong, nothing could be sent).
  enum class Sending { kSent, kConnectFailed, kSendFailed };
  Sending ConnectAndSend(const char* dottedAddress, uint16_t port, int64_t timeoutMs,
                         const char* data, size_t length, long* sent);

  // Connects to `dottedAddress`:`port` (port in host order), waiting at
  // most `timeoutMs` milliseconds for the peer (kNoTimeLimit: as long as
  // the system tries). The address is read as inet_addr reads it; one that
  // inet_addr rejects fails here without a connection attempt. The socket
  // is blocking again afterwards.
  static constexpr int64_t kNoTimeLimit = -1;
  bool Connect(const char* dottedAddress, uint16_t port, int64_t timeoutMs = kNoTimeLimit);

  // One send call. Returns the bytes the system took (possibly fewer than
  // `length`), or -1. A peer that has gone away never raises a signal.
  long Send(const char* data, size_t length);

  // Waits until a read would not block (data, end of stream or an error is
  // pending), at most `timeoutMs` milliseconds (0 polls once).
  WaitResult WaitReadable(int64_t timeoutMs);

  // One read of at most `capacity` bytes. Returns the count read, 0 when
  // the peer has closed the connection, -1 on an error.
  long Receive(char* buffer, size_t capacity);

  // Like Receive, but without waiting: kNothingYet when no data, end of
  // stream or error is pending. Saves the readiness wait where the caller
  // expects the data to be there already.
  static constexpr long kNothingYet = -2;
  long ReceiveNow(char* buffer, size_t capacity);

  // For a socket that a host's loop drives (controller/host_loop.h): the
  // socket never blocks from now on, and the attempt only begins here. Its
  // end is seen by the socket becoming writable (or failing), after which
  // FinishConnect tells the result. kFailed: lastError() says why (as
  // Connect's, with kBadAddress for an address inet_addr rejects).
  enum class Connecting { kDone, kInProgress, kFailed };
  Connecting StartConnect(const char* dottedAddress, uint16_t port);

  // StartConnect, then as much of `length` bytes of `data` as the system
  // takes at once where the connection may be made within the connect
  // call (POSIX: against a near server it is, and the request then goes
  // out without a wait). `*sent` counts the bytes taken. kSent: all of
  // them. kPending: the connection is still being made or the system has
  // no room yet (nothing is tried when `length` is 0): once the socket is
  // reported writable, FinishConnect (when nothing was sent) and SendNow
  // the rest. kConnectFailed, kSendFailed: lastError() says why.
  enum class Starting { kSent, kPending, kConnectFailed, kSendFailed };
  Starting StartConnectAndSend(const char* dottedAddress, uint16_t port, const char* data,
                               size_t length, long* sent);

  // The result of the attempt StartConnect began, once the socket has been
  // reported writable or failed. `reported`: an error code the readiness
  // report itself carried (Windows Sockets reports a failed connect so),
  // 0 when it carried none. False: lastError() says why.
  bool FinishConnect(int reported);

  // Without waiting, for the attempt StartConnect began: true when it has
  // ended, successfully or not, with `*reported` set for FinishConnect;
  // false while it goes on. For a loop that looks at a socket once more
  // before it ends the attempt for its time-out.
  bool ConnectEnded(int* reported);

  // One send without waiting: the bytes the system took, kNothingYet when
  // it has no room for any now, or -1.
  long SendNow(const char* data, size_t length);

  // Ends the connection in both directions at once, from any thread, while
  // its owner may be blocked in Connect or waiting to read: the attempt
  // fails, a wait returns and reads see the end of the stream. The socket
  // stays open until its owner closes it. Failures are ignored (there is
  // then nothing to end).
  void Shutdown();

  // Closes the socket; harmless when it is not open.
  void Close();

  bool IsOpen() const { return handle_ != kInvalid; }

  // Why the last call that failed (Create, Connect, Send, Receive,
  // ReceiveNow) failed; kNone before any failure.
  const SocketError& lastError() const { return error_; }

 private:
  friend class TcpListener;
  friend class SocketWatch;
  friend class WatchWaker;
  friend class LoopSet;
  static constexpr intptr_t kInvalid = -1;
  explicit TcpSocket(intptr_t handle) : handle_(handle) {}

  // Record a failure; each returns false for the caller to pass on.
  bool FailWithSystemError(int code);
  bool FailWith(SocketError::Kind kind);

  intptr_t handle_ = kInvalid;
  SocketError error_;
  bool nonBlocking_ = false;  // POSIX: made so by Create or StartConnect
  // Windows: an event that Shutdown sets, so that a connect in progress
  // ends at once (Windows Sockets does not end it on a shutdown). Made with
  // the socket, before another thread may shut it down, and closed with it.
  intptr_t wakeEvent_ = kInvalid;
};

// A listening socket on the loopback interface, for in-process servers
// (tests, benchmarks, the demo's responder).
class VC_INTERNAL_API TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on 127.0.0.1:`port`; port 0 picks a free one (see Port()).
  // `backlog` bounds the connections the system completes before they are
  // accepted (negative: the system's largest).
  bool Listen(uint16_t port = 0, int backlog = -1);

  // The port actually bound, in host order; 0 when not listening.
  uint16_t Port() const { return port_; }

  // Waits at most `timeoutMs` for a connection and accepts it. The result
  // is not open when none arrived or the listener was closed.
  TcpSocket Accept(int64_t timeoutMs);

  void Close();
  bool IsOpen() const { return handle_ != TcpSocket::kInvalid; }

 private:
  intptr_t handle_ = TcpSocket::kInvalid;
  uint16_t port_ = 0;
};

// What wakes the SocketWatches that share it, made once for a group of
// them (where the system needs a descriptor for it, that is all the group
// uses beside one per watch).
class VC_INTERNAL_API WatchWaker {
 public:
  WatchWaker() = default;
  ~WatchWaker();
  WatchWaker(const WatchWaker&) = delete;
  WatchWaker& operator=(const WatchWaker&) = delete;

  // False when the system has no descriptor left for it.
  bool Open();

 private:
  friend class SocketWatch;
  intptr_t handle_ = TcpSocket::kInvalid;
};

// Lets a thread sleep until a socket that another thread hands it has
// something to read, without being woken for the hand-over itself: the
// thread then wakes once per socket, when its data arrives. Where the
// system offers no such wait, Watch wakes the thread at once and it waits
// for the socket itself afterwards; callers see no difference but the
// extra wake-up.
class VC_INTERNAL_API SocketWatch {
 public:
  SocketWatch();
  ~SocketWatch();
  SocketWatch(const SocketWatch&) = delete;
  SocketWatch& operator=(const SocketWatch&) = delete;

  // False when the system has nothing left to watch with. `waker` must
  // have been opened, and outlive the watch.
  bool Open(const WatchWaker& waker);

  // From any thread: the current or next Wait returns once `socket` can be
  // read. The socket must stay open until that Wait has returned or the
  // socket is closed by the waiting thread. False when the system refuses
  // (the caller then uses Wake).
  bool Watch(const TcpSocket& socket);

  // From any thread: makes the current or next Wait return.
  void Wake();

  // Waits for a watched socket or a Wake, at most `timeoutMs`. kReady also
  // stands for a wake-up without cause: callers check their own state.
  WaitResult Wait(int64_t timeoutMs);

  // Gives back what the system holds for the watch, once no thread uses it
  // any more; the watch is then as one never opened.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_SOCKET_H_
