// The tools' sockets on POSIX (net.h).
#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace voicecontrol {
namespace testing {
namespace net {

Failure LastFailure() {
  switch (errno) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return Failure::kWouldBlock;
    case EINTR:
      return Failure::kInterrupted;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return Failure::kNoResources;
    default:
      return Failure::kOther;
  }
}

std::string LastErrorText() { return std::strerror(errno); }
bool LastFailureWasReset() { return errno == ECONNRESET; }

long Socket::Receive(char* buffer, size_t capacity) {
  return static_cast<long>(recv(handle_, buffer, capacity, MSG_DONTWAIT));
}

long Socket::Send(const char* data, size_t length) {
  return static_cast<long>(send(handle_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT));
}

void Socket::ShutdownWrite() { shutdown(handle_, SHUT_WR); }

void Socket::ResetOnClose() {
  const linger abort{1, 0};
  setsockopt(handle_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

void Socket::NoDelay() {
  const int yes = 1;
  setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

void Socket::Close() {
  if (handle_ != kInvalid) close(Release());
}

Listener::Listener(const std::string& host, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    throw std::runtime_error("not an IPv4 address: " + host);
  }
  // Non-blocking: under load the backlog is rarely empty, and a wait is
  // only needed when it is.
  socket_ = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket_.IsOpen()) throw std::runtime_error("socket: " + LastErrorText());
  const int yes = 1;
  setsockopt(socket_.handle(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (bind(socket_.handle(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(socket_.handle(), SOMAXCONN) != 0) {
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                             LastErrorText());
  }
  socklen_t length = sizeof address;
  getsockname(socket_.handle(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

Socket Listener::Accept(std::string* peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  Socket accepted(
      accept4(socket_.handle(), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC));
  if (accepted.IsOpen()) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    *peer = std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
  }
  return accepted;
}

Waker::Waker() {
  if (pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + LastErrorText());
}

Waker::~Waker() {
  close(fds_[0]);
  close(fds_[1]);
}

void Waker::Wake() {
  const char byte = 0;
  (void)!write(fds_[1], &byte, 1);
}

Handle Waker::watched() const { return fds_[0]; }

Ready WaitFor(const Socket& socket, bool write, const Waker& waker, int timeoutMs) {
  pollfd fds[2] = {{socket.handle(), static_cast<short>(write ? POLLOUT : POLLIN), 0},
                   {waker.watched(), POLLIN, 0}};
  const int n = poll(fds, 2, timeoutMs);
  if (n < 0) return errno == EINTR ? Ready::kTimedOut : Ready::kFailed;
  if (fds[1].revents != 0) return Ready::kStopped;
  return n == 0 ? Ready::kTimedOut : Ready::kReady;
}

SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

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
    *error = "cannot find an IPv4 address for host \"" + host + "\": " +
             (result == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(result));
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
