// TCP sockets through Windows Sockets. The host has initialised Windows
// Sockets (WSAStartup) before the first call.
// winsock2.h brings in windows.h itself, in the order it needs.
#include <winsock2.h>

#include <climits>
#include <cstring>

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

int ClampLength(size_t length) {
  return length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

bool TcpSocket::Create() {
  Close();
  const SOCKET s = NewStreamSocket();
  if (s == INVALID_SOCKET) return false;
  handle_ = static_cast<intptr_t>(s);
  return true;
}

bool TcpSocket::Connect(const char* dottedAddress, uint16_t port) {
  if (!IsOpen() || dottedAddress == nullptr) return false;
  const unsigned long address = ::inet_addr(dottedAddress);
  if (address == INADDR_NONE) return false;  // unparsable, or the broadcast address
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = ::htons(port);
  peer.sin_addr.s_addr = address;
  return ::connect(AsSocket(handle_), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
}

long TcpSocket::Send(const char* data, size_t length) {
  if (!IsOpen()) return -1;
  const int sent = ::send(AsSocket(handle_), data, ClampLength(length), 0);
  return sent == SOCKET_ERROR ? -1 : static_cast<long>(sent);
}

WaitResult TcpSocket::WaitReadable(int64_t timeoutMs) {
  if (!IsOpen()) return WaitResult::kFailed;
  return SelectReadable(AsSocket(handle_), timeoutMs);
}

long TcpSocket::Receive(char* buffer, size_t capacity) {
  if (!IsOpen()) return -1;
  const int got = ::recv(AsSocket(handle_), buffer, ClampLength(capacity), 0);
  return got == SOCKET_ERROR ? -1 : static_cast<long>(got);
}

long TcpSocket::ReceiveNow(char* buffer, size_t capacity) {
  if (!IsOpen()) return -1;
  // Windows Sockets has no per-call non-blocking read: ask first.
  const WaitResult ready = SelectReadable(AsSocket(handle_), 0);
  if (ready == WaitResult::kTimedOut) return kNothingYet;
  if (ready != WaitResult::kReady) return -1;
  return Receive(buffer, capacity);
}

void TcpSocket::Close() {
  if (!IsOpen()) return;
  ::closesocket(AsSocket(handle_));
  handle_ = kInvalid;
}

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(uint16_t port) {
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
      ::listen(s, SOMAXCONN) != 0 ||
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
