// TCP sockets through Windows Sockets. The host has initialised Windows
// Sockets (WSAStartup) before the first call.
// winsock2.h brings in windows.h itself, in the order it needs.
#include <winsock2.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/socket.h"

namespace voicecontrol {
namespace platform {

namespace {

SOCKET AsSocket(intptr_t handle) { return static_cast<SOCKET>(handle); }

SOCKET NewStreamSocket() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  // Like close-on-exec elsewhere: child processes must not keep the
  // connection open.
  if (s != INVALID_SOCKET) {
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  return s;
}

// select() on one socket for reading, at most timeoutMs milliseconds.
WaitResult SelectReadable(SOCKET s, int64_t timeoutMs) {
  if (timeoutMs < 0) timeoutMs = 0;
  const int64_t seconds = timeoutMs / 1000;
  timeval limit;
  limit.tv_sec = seconds > LONG_MAX ? LONG_MAX : static_cast<long>(seconds);
  limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  const int ready = ::select(0, &readable, nullptr, nullptr, &limit);
  if (ready > 0) return WaitResult::kReady;
  return ready == 0 ? WaitResult::kTimedOut : WaitResult::kFailed;
}

// Waits at most `timeoutMs` for the connection attempt begun on
// non-blocking `s` to end. 0 when connected, else the error code;
// kTimedOutMarker when the time ran out. Windows Sockets signals a failed
// attempt through the exception set, a successful one through the write
// set.
constexpr int kTimedOutMarker = -1;

int AwaitConnection(SOCKET s, int64_t timeoutMs) {
  timeval limit;
  timeval* until = nullptr;  // no limit
  if (timeoutMs >= 0) {
    const int64_t seconds = timeoutMs / 1000;
    limit.tv_sec = seconds > LONG_MAX ? LONG_MAX : static_cast<long>(seconds);
    limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    until = &limit;
  }
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_SET(s, &writable);
  FD_ZERO(&failed);
  FD_SET(s, &failed);
  const int ready = ::select(0, nullptr, &writable, &failed, until);
  if (ready == 0) return kTimedOutMarker;
  if (ready == SOCKET_ERROR) return ::WSAGetLastError();
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
    return ::WSAGetLastError();
  }
  if (error == 0 && FD_ISSET(s, &failed)) error = WSAECONNREFUSED;
  return error;
}

// The same through the socket's wake event, which a Shutdown from another
// thread also sets: the attempt then ends at once, as
// WSAECONNABORTED.
int AwaitConnectionOrWake(SOCKET s, WSAEVENT wake, int64_t timeoutMs) {
  const DWORD limit = timeoutMs < 0                ? WSA_INFINITE
                      : timeoutMs >= WSA_INFINITE ? WSA_INFINITE - 1
                                                  : static_cast<DWORD>(timeoutMs);
  const DWORD woken = ::WSAWaitForMultipleEvents(1, &wake, FALSE, limit, FALSE);
  if (woken == WSA_WAIT_TIMEOUT) return kTimedOutMarker;
  if (woken == WSA_WAIT_FAILED) return ::WSAGetLastError();
  WSANETWORKEVENTS events;
  if (::WSAEnumNetworkEvents(s, wake, &events) != 0) return ::WSAGetLastError();
  if ((events.lNetworkEvents & FD_CONNECT) == 0) return WSAECONNABORTED;
  return events.iErrorCode[FD_CONNECT_BIT];
}

bool SetBlocking(SOCKET s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// The common errors in the words the POSIX systems use, so that a host
// reads the same text on every platform.
struct ErrorName {
  int code;
  const char* text;
};
constexpr ErrorName kErrorNames[] = {
    {WSAECONNREFUSED, "Connection refused"},
    {WSAETIMEDOUT, "Connection timed out"},
    {WSAENETUNREACH, "Network is unreachable"},
    {WSAEHOSTUNREACH, "No route to host"},
    {WSAENETDOWN, "Network is down"},
    {WSAECONNRESET, "Connection reset by peer"},
    {WSAECONNABORTED, "Software caused connection abort"},
    {WSAENOTCONN, "Transport endpoint is not connected"},
    {WSAESHUTDOWN, "Cannot send after transport endpoint shutdown"},
    {WSAEADDRNOTAVAIL, "Cannot assign requested address"},
    {WSAEADDRINUSE, "Address already in use"},
    {WSAEAFNOSUPPORT, "Address family not supported by protocol"},
    {WSAEACCES, "Permission denied"},
    {WSAEMFILE, "Too many open files"},
    {WSAENOBUFS, "No buffer space available"},
    {WSAEINVAL, "Invalid argument"},
    {WSAENOTSOCK, "Socket operation on non-socket"},
    {WSAEINTR, "Interrupted system call"},
    {WSANOTINITIALISED, "Windows Sockets is not initialised (WSAStartup)"},
};

int ClampLength(size_t length) {
  return length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

bool IsDottedIPv4(const char* text) {
  // inet_addr gives INADDR_NONE for what it cannot read (and for the
  // broadcast address, which cannot be connected to either).
  return text != nullptr && *text != '\0' && ::inet_addr(text) != INADDR_NONE;
}

std::string SocketErrorText(int code) {
  for (const ErrorName& name : kErrorNames) {
    if (name.code == code) return name.text;
  }
  return "Windows Sockets error " + std::to_string(code);
}

bool TcpSocket::Create(bool /*nonBlocking*/) {
  Close();
  const SOCKET s = NewStreamSocket();
  if (s == INVALID_SOCKET) return FailWithSystemError(::WSAGetLastError());
  handle_ = static_cast<intptr_t>(s);
  // Without an event a connect cannot be ended from another thread, only
  // by its time-out; the socket is usable all the same.
  const WSAEVENT wake = ::WSACreateEvent();
  if (wake != WSA_INVALID_EVENT) wakeEvent_ = reinterpret_cast<intptr_t>(wake);
  return true;
}

bool TcpSocket::Connect(const char* dottedAddress, uint16_t port, int64_t timeoutMs) {
  if (!IsOpen()) return FailWithSystemError(WSAENOTSOCK);
  if (!IsDottedIPv4(dottedAddress)) return FailWith(SocketError::Kind::kBadAddress);
  const unsigned long address = ::inet_addr(dottedAddress);
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = ::htons(port);
  peer.sin_addr.s_addr = address;
  const SOCKET s = AsSocket(handle_);
  // Non-blocking for the attempt alone, so that its wait has our limit
  // rather than the system's (about 21 seconds against a host that drops
  // the connection request).
  const WSAEVENT wake = reinterpret_cast<WSAEVENT>(wakeEvent_);
  const bool wakeable =
      wakeEvent_ != kInvalid && ::WSAEventSelect(s, wake, FD_CONNECT) == 0;
  if (!wakeable && !SetBlocking(s, false)) return FailWithSystemError(::WSAGetLastError());
  int error = 0;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      error = wakeable ? AwaitConnectionOrWake(s, wake, timeoutMs) : AwaitConnection(s, timeoutMs);
    }
  }
  // The event's selection made the socket non-blocking; it goes before the
  // socket can be made blocking again.
  if (wakeable && ::WSAEventSelect(s, nullptr, 0) != 0 && error == 0) {
    error = ::WSAGetLastError();
  }
  if (!SetBlocking(s, true) && error == 0) error = ::WSAGetLastError();
  if (error == kTimedOutMarker) return FailWith(SocketError::Kind::kTimedOut);
  if (error != 0) return FailWithSystemError(error);
  return true;
}

TcpSocket::Connecting TcpSocket::StartConnect(const char* dottedAddress, uint16_t port) {
  if (!IsOpen()) return FailWithSystemError(WSAENOTSOCK), Connecting::kFailed;
  if (!IsDottedIPv4(dottedAddress)) {
    return FailWith(SocketError::Kind::kBadAddress), Connecting::kFailed;
  }
  const SOCKET s = AsSocket(handle_);
  // A socket in an event set is non-blocking already; this covers one that
  // is not (yet).
  if (!SetBlocking(s, false)) return FailWithSystemError(::WSAGetLastError()), Connecting::kFailed;
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = ::htons(port);
  peer.sin_addr.s_addr = ::inet_addr(dottedAddress);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return Connecting::kDone;
  }
  const int error = ::WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return Connecting::kInProgress;
  return FailWithSystemError(error), Connecting::kFailed;
}

// Windows Sockets makes no connection within the connect call, and a
// send before it is made fails: the request goes out once the socket is
// reported writable, unless the connection was there at once.
TcpSocket::Starting TcpSocket::StartConnectAndSend(const char* dottedAddress, uint16_t port,
                                                   const char* data, size_t length, long* sent) {
  *sent = 0;
  switch (StartConnect(dottedAddress, port)) {
    case Connecting::kFailed:
      return Starting::kConnectFailed;
    case Connecting::kInProgress:
      return Starting::kPending;
    case Connecting::kDone:
      break;
  }
  size_t done = 0;
  while (done < length) {
    const long n = SendNow(data + done, length - done);
    if (n == kNothingYet) return Starting::kPending;
    if (n < 1) return Starting::kSendFailed;
    done += static_cast<size_t>(n);
    *sent = static_cast<long>(done);
  }
  return length == 0 ? Starting::kPending : Starting::kSent;
}

bool TcpSocket::FinishConnect(int reported) {
  if (!IsOpen()) return FailWithSystemError(WSAENOTSOCK);
  if (reported != 0) return FailWithSystemError(reported);
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(AsSocket(handle_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                   &size) != 0) {
    return FailWithSystemError(::WSAGetLastError());
  }
  return error == 0 || FailWithSystemError(error);
}

bool TcpSocket::ConnectEnded(int* reported) {
  *reported = 0;
  if (!IsOpen()) return true;  // FinishConnect says why
  const int result = AwaitConnection(AsSocket(handle_), 0);
  if (result == kTimedOutMarker) return false;
  *reported = result;
  return true;
}

long TcpSocket::SendNow(const char* data, size_t length) {
  if (!IsOpen()) return FailWithSystemError(WSAENOTSOCK), -1;
  const int sent = ::send(AsSocket(handle_), data, ClampLength(length), 0);
  if (sent != SOCKET_ERROR) return static_cast<long>(sent);
  const int error = ::WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return kNothingYet;
  return FailWithSystemError(error), -1;
}

// Windows Sockets tells nothing useful from a send on a socket still
// connecting, so the connection is awaited first.
TcpSocket::Sending TcpSocket::ConnectAndSend(const char* dottedAddress, uint16_t port,
                                             int64_t timeoutMs, const char* data, size_t length,
                                             long* sent) {
  *sent = 0;
  if (!Connect(dottedAddress, port, timeoutMs)) return Sending::kConnectFailed;
  *sent = Send(data, length);
  return *sent < 1 ? Sending::kSendFailed : Sending::kSent;
}

long TcpSocket::Send(const char* data, size_t length) {
  if (!IsOpen()) return FailWithSystemError(WSAENOTSOCK), -1;
  const int sent = ::send(AsSocket(handle_), data, ClampLength(length), 0);
  if (sent == SOCKET_ERROR) return FailWithSystemError(::WSAGetLastError()), -1;
  return static_cast<long>(sent);
}

WaitResult TcpSocket::WaitReadable(int64_t timeoutMs) {
  if (!IsOpen()) return WaitResult::kFailed;
  return SelectReadable(AsSocket(handle_), timeoutMs);
}

long TcpSocket::Receive(char* buffer, size_t capacity) {
  if (!IsOpen()) return FailWithSystemError(WSAENOTSOCK), -1;
  const int got = ::recv(AsSocket(handle_), buffer, ClampLength(capacity), 0);
  if (got == SOCKET_ERROR) return FailWithSystemError(::WSAGetLastError()), -1;
  return static_cast<long>(got);
}

long TcpSocket::ReceiveNow(char* buffer, size_t capacity) {
  if (!IsOpen()) return FailWithSystemError(WSAENOTSOCK), -1;
  // Windows Sockets has no per-call non-blocking read: ask first.
  const WaitResult ready = SelectReadable(AsSocket(handle_), 0);
  if (ready == WaitResult::kTimedOut) return kNothingYet;
  if (ready != WaitResult::kReady) return FailWithSystemError(::WSAGetLastError()), -1;
  return Receive(buffer, capacity);
}

void TcpSocket::Shutdown() {
  if (!IsOpen()) return;
  ::shutdown(AsSocket(handle_), SD_BOTH);
  if (wakeEvent_ != kInvalid) ::WSASetEvent(reinterpret_cast<WSAEVENT>(wakeEvent_));
}

void TcpSocket::Close() {
  if (wakeEvent_ != kInvalid) {
    ::WSACloseEvent(reinterpret_cast<WSAEVENT>(wakeEvent_));
    wakeEvent_ = kInvalid;
  }
  if (!IsOpen()) return;
  ::closesocket(AsSocket(handle_));
  handle_ = kInvalid;
}

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(uint16_t port, int backlog) {
  Close();
  const SOCKET s = NewStreamSocket();
  if (s == INVALID_SOCKET) return false;
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_port = ::htons(port);
  local.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  int size = sizeof local;
  if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(s, backlog < 0 ? SOMAXCONN : backlog) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    ::closesocket(s);
    return false;
  }
  handle_ = static_cast<intptr_t>(s);
  port_ = ::ntohs(local.sin_port);
  return true;
}

TcpSocket TcpListener::Accept(int64_t timeoutMs) {
  if (!IsOpen()) return TcpSocket();
  const SOCKET s = AsSocket(handle_);
  if (SelectReadable(s, timeoutMs) != WaitResult::kReady) return TcpSocket();
  const SOCKET client = ::accept(s, nullptr, nullptr);
  if (client == INVALID_SOCKET) return TcpSocket();
  return TcpSocket(static_cast<intptr_t>(client));
}

void TcpListener::Close() {
  if (!IsOpen()) return;
  ::closesocket(AsSocket(handle_));
  handle_ = TcpSocket::kInvalid;
  port_ = 0;
}

}  // namespace platform
}  // namespace voicecontrol
