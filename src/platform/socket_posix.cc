// TCP sockets on POSIX systems.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/socket.h"

namespace voicecontrol {
namespace platform {

namespace {

#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer must not raise SIGPIPE
#else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif

int NewStreamSocket(bool nonBlocking = false) {
#if defined(SOCK_CLOEXEC) && defined(SOCK_NONBLOCK)
  const int fd =
      ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
#else
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd >= 0) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (fd >= 0 && nonBlocking) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
#endif
#if defined(SO_NOSIGPIPE)
  if (fd >= 0) {
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
  }
#endif
  return fd;
}

int ClampTimeout(int64_t timeoutMs) {
  if (timeoutMs < 0) return 0;
  return timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
}

// poll() on one descriptor, resumed after signals until the time is up.
WaitResult PollOne(int fd, short events, int64_t timeoutMs) {
  const int64_t deadline = MonotonicMilliseconds() + (timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    pollfd entry{fd, events, 0};
    const int64_t left = deadline - MonotonicMilliseconds();
    const int ready = ::poll(&entry, 1, ClampTimeout(left));
    if (ready > 0) return WaitResult::kReady;
    if (ready == 0) return WaitResult::kTimedOut;
    if (errno != EINTR) return WaitResult::kFailed;
  }
}

// The connection attempt on non-blocking `fd` has begun: waits for its end,
// at most `timeoutMs`, and fetches its result. 0 when connected, else the
// error number; kTimedOutMarker when the time ran out.
constexpr int kTimedOutMarker = -1;

int AwaitConnection(int fd, int64_t timeoutMs) {
  switch (PollOne(fd, POLLOUT, timeoutMs)) {
    case WaitResult::kTimedOut:
      return kTimedOutMarker;
    case WaitResult::kFailed:
      return errno;
    case WaitResult::kReady:
      break;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

// strerror_r comes in two forms (GNU and XSI); each overload takes one.
[[maybe_unused]] const char* ChooseText(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ChooseText(const char* result, const char*) { return result; }

// Connects `fd` (blocking) to `peer`, at most `timeoutMs` (negative: as
// long as the system lets it). 0 when connected, else the error number;
// kTimedOutMarker when the time ran out.
int ConnectWithin(int fd, const sockaddr_in& peer, int64_t timeoutMs) {
  const sockaddr* const to = reinterpret_cast<const sockaddr*>(&peer);
  if (timeoutMs < 0) {
    if (::connect(fd, to, sizeof peer) == 0) return 0;
    // Interrupted, the attempt goes on in the background just the same.
    return errno == EINTR ? AwaitConnection(fd, INT_MAX) : errno;
  }
  // Non-blocking for the attempt alone, so that its wait has our limit
  // rather than the system's (about two minutes against a host that drops
  // the connection request). Not the send time-out, which Linux also
  // applies to a blocking connect: its timer may fire a quarter of a
  // second late at this length, where poll's is exact.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
  int error = 0;
  if (::connect(fd, to, sizeof peer) != 0) {
    error = errno;
    if (error == EINPROGRESS || error == EINTR) error = AwaitConnection(fd, timeoutMs);
  }
  if (error == 0 && ::fcntl(fd, F_SETFL, flags) != 0) error = errno;
  return error;
}

}  // namespace

std::string SocketErrorText(int code) {
  char buffer[256] = "";
  const char* text = ChooseText(::strerror_r(code, buffer, sizeof buffer), buffer);
  if (text == nullptr || *text == '\0') return "error " + std::to_string(code);
  return text;
}

bool TcpSocket::Create(bool nonBlocking) {
  Close();
  const int fd = NewStreamSocket(nonBlocking);
  if (fd < 0) return FailWithSystemError(errno);
  handle_ = fd;
  nonBlocking_ = nonBlocking;
  return true;
}

namespace {

// The peer at `dottedAddress`:`port`; false for an address that is no
// dotted IPv4 address. Read once per connection: every command connects.
bool PeerAddress(const char* dottedAddress, uint16_t port, sockaddr_in* peer) {
  if (dottedAddress == nullptr || *dottedAddress == '\0') return false;
  // inet_addr gives INADDR_NONE for what it cannot read (and for the
  // broadcast address, which cannot be connected to either).
  const in_addr_t address = ::inet_addr(dottedAddress);
  if (address == INADDR_NONE) return false;
  std::memset(peer, 0, sizeof *peer);
  peer->sin_family = AF_INET;
  peer->sin_port = htons(port);
  peer->sin_addr.s_addr = address;
  return true;
}

}  // namespace

bool IsDottedIPv4(const char* text) {
  sockaddr_in unused;
  return PeerAddress(text, 0, &unused);
}

bool TcpSocket::Connect(const char* dottedAddress, uint16_t port, int64_t timeoutMs) {
  if (!IsOpen()) return FailWithSystemError(EBADF);
  sockaddr_in peer;
  if (!PeerAddress(dottedAddress, port, &peer)) return FailWith(SocketError::Kind::kBadAddress);
  const int error = ConnectWithin(static_cast<int>(handle_), peer, timeoutMs);
  if (error == kTimedOutMarker) return FailWith(SocketError::Kind::kTimedOut);
  if (error != 0) return FailWithSystemError(error);
  return true;
}

namespace {

// Errors with which a send on a socket whose connection is still being
// made tells that the connection failed.
bool MeansNotConnected(int fd) {
  sockaddr_in peer;
  socklen_t size = sizeof peer;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 && errno == ENOTCONN;
}

}  // namespace

TcpSocket::Sending TcpSocket::ConnectAndSend(const char* dottedAddress, uint16_t port,
                                             int64_t timeoutMs, const char* data, size_t length,
                                             long* sent) {
  *sent = 0;
  if (!IsOpen()) return FailWithSystemError(EBADF), Sending::kConnectFailed;
  sockaddr_in peer;
  if (!PeerAddress(dottedAddress, port, &peer)) {
    return FailWith(SocketError::Kind::kBadAddress), Sending::kConnectFailed;
  }
  const int fd = static_cast<int>(handle_);
  const int64_t deadline = MonotonicMilliseconds() + (timeoutMs < 0 ? 0 : timeoutMs);
  bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
  if (!connected && errno != EINPROGRESS && errno != EINTR) {
    return FailWithSystemError(errno), Sending::kConnectFailed;
  }
  size_t done = 0;
  while (done < length || length == 0) {
    const ssize_t n = ::send(fd, data + done, length - done, kSendFlags | MSG_DONTWAIT);
    if (n > 0) {
      connected = true;
      done += static_cast<size_t>(n);
      *sent = static_cast<long>(done);
      continue;
    }
    if (n == 0) break;  // nothing taken of an empty request
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      const int error = errno;
      if (!connected && MeansNotConnected(fd)) {
        return FailWithSystemError(error), Sending::kConnectFailed;
      }
      return FailWithSystemError(error), Sending::kSendFailed;
    }
    // No room yet: the connection is still being made, or the system's
    // buffer is full. Either way the socket becomes writable.
    const int64_t left = deadline - MonotonicMilliseconds();
    const WaitResult ready = PollOne(fd, POLLOUT, left);
    if (!connected) {
      if (ready == WaitResult::kTimedOut) {
        return FailWith(SocketError::Kind::kTimedOut), Sending::kConnectFailed;
      }
      if (ready == WaitResult::kFailed) return FailWithSystemError(errno), Sending::kConnectFailed;
      int error = 0;
      socklen_t size = sizeof error;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      if (error != 0) return FailWithSystemError(error), Sending::kConnectFailed;
      connected = true;
    } else if (ready != WaitResult::kReady) {
      return FailWithSystemError(ready == WaitResult::kTimedOut ? ETIMEDOUT : errno),
             Sending::kSendFailed;
    }
  }
  return done > 0 ? Sending::kSent : Sending::kSendFailed;
}

TcpSocket::Connecting TcpSocket::StartConnect(const char* dottedAddress, uint16_t port) {
  if (!IsOpen()) return FailWithSystemError(EBADF), Connecting::kFailed;
  sockaddr_in peer;
  if (!PeerAddress(dottedAddress, port, &peer)) {
    return FailWith(SocketError::Kind::kBadAddress), Connecting::kFailed;
  }
  const int fd = static_cast<int>(handle_);
  if (!nonBlocking_) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
      return FailWithSystemError(errno), Connecting::kFailed;
    }
    nonBlocking_ = true;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return Connecting::kDone;
  }
  // Interrupted, the attempt goes on in the background just the same.
  if (errno == EINPROGRESS || errno == EINTR) return Connecting::kInProgress;
  return FailWithSystemError(errno), Connecting::kFailed;
}

TcpSocket::Starting TcpSocket::StartConnectAndSend(const char* dottedAddress, uint16_t port,
                                                   const char* data, size_t length, long* sent) {
  *sent = 0;
  switch (StartConnect(dottedAddress, port)) {
    case Connecting::kFailed:
      return Starting::kConnectFailed;
    case Connecting::kDone:
    case Connecting::kInProgress:
      break;
  }
  const int fd = static_cast<int>(handle_);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::send(fd, data + done, length - done, kSendFlags | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      *sent = static_cast<long>(done);
      continue;
    }
    if (n == 0) return Starting::kSendFailed;  // nothing taken, nothing wrong
    const int error = errno;
    if (error == EINTR) continue;
    // Still connecting (a send then waits for the connection, here: not
    // at all), or no room: the socket becomes writable either way.
    if (error == EAGAIN || error == EWOULDBLOCK) return Starting::kPending;
    // A failed connection tells its error to the first send, once.
    if (done == 0 && MeansNotConnected(fd)) {
      return FailWithSystemError(error), Starting::kConnectFailed;
    }
    return FailWithSystemError(error), Starting::kSendFailed;
  }
  return length == 0 ? Starting::kPending : Starting::kSent;
}

bool TcpSocket::FinishConnect(int reported) {
  if (!IsOpen()) return FailWithSystemError(EBADF);
  if (reported != 0) return FailWithSystemError(reported);
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    return FailWithSystemError(errno);
  }
  return error == 0 || FailWithSystemError(error);
}

bool TcpSocket::ConnectEnded(int* reported) {
  *reported = 0;
  if (!IsOpen()) return true;  // FinishConnect says why
  const int result = AwaitConnection(static_cast<int>(handle_), 0);
  if (result == kTimedOutMarker) return false;
  *reported = result;
  return true;
}

long TcpSocket::SendNow(const char* data, size_t length) {
  if (!IsOpen()) return FailWithSystemError(EBADF), -1;
  for (;;) {
    const ssize_t sent =
        ::send(static_cast<int>(handle_), data, length, kSendFlags | MSG_DONTWAIT);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kNothingYet;
    if (errno != EINTR) return FailWithSystemError(errno), -1;
  }
}

long TcpSocket::Send(const char* data, size_t length) {
  if (!IsOpen()) return FailWithSystemError(EBADF), -1;
  for (;;) {
    const ssize_t sent = ::send(static_cast<int>(handle_), data, length, kSendFlags);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno != EINTR) return FailWithSystemError(errno), -1;
  }
}

WaitResult TcpSocket::WaitReadable(int64_t timeoutMs) {
  if (!IsOpen()) return WaitResult::kFailed;
  return PollOne(static_cast<int>(handle_), POLLIN, timeoutMs);
}

long TcpSocket::Receive(char* buffer, size_t capacity) {
  if (!IsOpen()) return FailWithSystemError(EBADF), -1;
  for (;;) {
    const ssize_t got = ::recv(static_cast<int>(handle_), buffer, capacity, 0);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return FailWithSystemError(errno), -1;
  }
}

long TcpSocket::ReceiveNow(char* buffer, size_t capacity) {
  if (!IsOpen()) return FailWithSystemError(EBADF), -1;
  for (;;) {
    const ssize_t got = ::recv(static_cast<int>(handle_), buffer, capacity, MSG_DONTWAIT);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kNothingYet;
    if (errno != EINTR) return FailWithSystemError(errno), -1;
  }
}

void TcpSocket::Shutdown() {
  if (IsOpen()) ::shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

void TcpSocket::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
}

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(uint16_t port, int backlog) {
  Close();
  const int fd = NewStreamSocket();
  if (fd < 0) return false;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof local;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(fd, backlog < 0 ? SOMAXCONN : backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  port_ = ntohs(local.sin_port);
  return true;
}

TcpSocket TcpListener::Accept(int64_t timeoutMs) {
  if (!IsOpen()) return TcpSocket();
  const int fd = static_cast<int>(handle_);
  if (PollOne(fd, POLLIN, timeoutMs) != WaitResult::kReady) return TcpSocket();
  for (;;) {
#if defined(SOCK_CLOEXEC) && defined(__linux__)
    const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
#else
    const int client = ::accept(fd, nullptr, nullptr);
#endif
    if (client >= 0) return TcpSocket(client);
    if (errno != EINTR) return TcpSocket();
  }
}

void TcpListener::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = TcpSocket::kInvalid;
  port_ = 0;
}

}  // namespace platform
}  // namespace voicecontrol
