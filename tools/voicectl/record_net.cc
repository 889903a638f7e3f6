#include "record_net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace voicectl {
namespace net {

namespace {

bool Address(const std::string& text, uint16_t port, sockaddr_in* address) {
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  return inet_pton(AF_INET, text.c_str(), &address->sin_addr) == 1;
}

}  // namespace

Waker::~Waker() {
  for (const int fd : fds_) {
    if (fd >= 0) close(fd);
  }
}

bool Waker::Open() { return pipe2(fds_, O_CLOEXEC) == 0; }

void Waker::Wake() {
  const char byte = 0;
  (void)!write(fds_[1], &byte, 1);  // readable from then on: every wait ends
}

int Listen(const std::string& address, uint16_t port, uint16_t* bound, std::string* error) {
  sockaddr_in where;
  if (!Address(address, port, &where)) {
    *error = "not an IPv4 address: " + address;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int yes = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
      listen(fd, SOMAXCONN) != 0) {
    *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  socklen_t length = sizeof where;
  getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  *bound = ntohs(where.sin_port);
  return fd;
}

int Accept(int listenFd, const Waker& waker, std::string* peer) {
  for (;;) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    if (fd >= 0) {
      char text[INET_ADDRSTRLEN] = "?";
      inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
      *peer = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
      return fd;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
      return -1;
    }
    if (WaitReadable(listenFd, -1, waker, -1) != Ready::kFirst) return -1;
  }
}

int Connect(const std::string& address, uint16_t port, int timeoutMs, std::string* error) {
  sockaddr_in where;
  if (!Address(address, port, &where)) {
    *error = "not an IPv4 address: " + address;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  int code = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
    code = errno;
    if (code == EINPROGRESS) {
      pollfd wait = {fd, POLLOUT, 0};
      socklen_t length = sizeof code;
      code = poll(&wait, 1, timeoutMs) == 1
                 ? (getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length), code)
                 : ETIMEDOUT;
    }
  }
  if (code != 0) {
    *error = std::strerror(code);
    close(fd);
    return -1;
  }
  // Blocking again: sends wait for the peer, reads come after WaitReadable.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

Ready WaitReadable(int first, int second, const Waker& waker, int timeoutMs) {
  pollfd fds[3] = {{waker.fd(), POLLIN, 0}, {first, POLLIN, 0}, {second, POLLIN, 0}};
  const nfds_t count = second >= 0 ? 3 : 2;
  int n;
  do {
    n = poll(fds, count, timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n < 0 || fds[0].revents != 0) return Ready::kWoken;
  if (n == 0) return Ready::kTimedOut;
  return fds[1].revents != 0 ? Ready::kFirst : Ready::kSecond;
}

long Receive(int fd, char* buffer, size_t capacity, bool* reset) {
  ssize_t n;
  do {
    n = recv(fd, buffer, capacity, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  *reset = n < 0 && errno == ECONNRESET;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kNothingYet;
  return static_cast<long>(n);
}

bool SendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

void Close(int fd, bool reset) {
  if (reset) {
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  close(fd);
}

}  // namespace net
}  // namespace voicectl
