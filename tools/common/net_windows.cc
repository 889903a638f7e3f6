// The tools' sockets on Windows Sockets (net.h). Every socket a server
// accepts is non-blocking, as the POSIX side gets by MSG_DONTWAIT, so that
// Receive and Send never wait; the waits are select calls that also watch
// the Waker, a loopback datagram socket that sends itself a byte, since
// select takes sockets only (no pipe).
#include "net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace voicecontrol {
namespace testing {
namespace net {

namespace {

// Neither a process this one starts nor a host's child inherits a
// server's sockets, as SOCK_CLOEXEC gives on POSIX.
void KeepFromChildren(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

void MakeNonBlocking(SOCKET s) {
  u_long yes = 1;
  ioctlsocket(s, FIONBIO, &yes);
}

// The system's message for `code` in English where the system has it, so
// that texts read as on Linux ("Connection refused"), without its final
// full stop and line break.
std::string MessageOf(DWORD code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                text, sizeof text, nullptr);
  if (length == 0) {
    length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            code, 0, text, sizeof text, nullptr);
  }
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "Windows Sockets error " + std::to_string(code) : message;
}

}  // namespace

Failure LastFailure() {
  switch (WSAGetLastError()) {
    case WSAEWOULDBLOCK:
      return Failure::kWouldBlock;
    case WSAEINTR:
      return Failure::kInterrupted;
    case WSAEMFILE:
    case WSAENOBUFS:
      return Failure::kNoResources;
    default:
      return Failure::kOther;
  }
}

std::string LastErrorText() { return MessageOf(static_cast<DWORD>(WSAGetLastError())); }
bool LastFailureWasReset() { return WSAGetLastError() == WSAECONNRESET; }

long Socket::Receive(char* buffer, size_t capacity) {
  const int n = recv(handle_, buffer, static_cast<int>(std::min<size_t>(capacity, INT_MAX)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long Socket::Send(const char* data, size_t length) {
  const int n = send(handle_, data, static_cast<int>(std::min<size_t>(length, INT_MAX)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

void Socket::ShutdownWrite() { shutdown(handle_, SD_SEND); }

void Socket::ResetOnClose() {
  linger abort{};
  abort.l_onoff = 1;
  abort.l_linger = 0;
  setsockopt(handle_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
             sizeof abort);
}

void Socket::NoDelay() {
  const BOOL yes = TRUE;
  setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
}

void Socket::Close() {
  if (handle_ != kInvalid) closesocket(Release());
}

Listener::Listener(const std::string& host, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    throw std::runtime_error("not an IPv4 address: " + host);
  }
  socket_ = Socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!socket_.IsOpen()) throw std::runtime_error("socket: " + LastErrorText());
  KeepFromChildren(socket_.handle());
  MakeNonBlocking(socket_.handle());
  // No SO_REUSEADDR: on Windows it lets a second socket bind a port that
  // another listens on (and a closed listener's port is free at once
  // without it), where POSIX refuses the second one.
  if (bind(socket_.handle(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(socket_.handle(), SOMAXCONN) != 0) {
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                             LastErrorText());
  }
  int length = sizeof address;
  getsockname(socket_.handle(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

Socket Listener::Accept(std::string* peer) {
  sockaddr_in address{};
  int length = sizeof address;
  Socket accepted(accept(socket_.handle(), reinterpret_cast<sockaddr*>(&address), &length));
  if (accepted.IsOpen()) {
    KeepFromChildren(accepted.handle());
    MakeNonBlocking(accepted.handle());
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    *peer = std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
  }
  return accepted;
}

Waker::Waker() {
  socket_ = Socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket_.IsOpen()) throw std::runtime_error("socket: " + LastErrorText());
  KeepFromChildren(socket_.handle());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(socket_.handle(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(socket_.handle(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      connect(socket_.handle(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot make the stop socket: " + LastErrorText());
  }
}

Waker::~Waker() = default;

// The byte is never read: the socket stays readable for every later wait.
void Waker::Wake() { send(socket_.handle(), "", 1, 0); }

Handle Waker::watched() const { return socket_.handle(); }

Ready WaitFor(const Socket& socket, bool write, const Waker& waker, int timeoutMs) {
  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(waker.watched(), &readable);
  FD_SET(socket.handle(), write ? &writable : &readable);
  FD_SET(socket.handle(), &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int n = select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
  if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEINTR ? Ready::kTimedOut : Ready::kFailed;
  if (FD_ISSET(waker.watched(), &readable)) return Ready::kStopped;
  return n == 0 ? Ready::kTimedOut : Ready::kReady;
}

SocketLibrary::SocketLibrary() {
  WSADATA data;
  ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketLibrary::~SocketLibrary() {
  if (ok_) WSACleanup();
}

bool ParseIpv4(const std::string& text, uint32_t* address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  *address = ntohl(parsed.s_addr);
  return true;
}

bool ResolveIpv4(const std::string& host, std::string* address, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (result != 0 || found == nullptr) {
    *error = "cannot find an IPv4 address for host \"" + host +
             "\": " + MessageOf(static_cast<DWORD>(result));
    return false;
  }
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  *address = text;
  return true;
}

}  // namespace net
}  // namespace testing
}  // namespace voicecontrol
