// The sockets of `voicectl record`, the one file of it that speaks to the
// system's socket interface (POSIX here), so that porting it is porting
// this file. Descriptors are plain ints; every call reports failure by its
// result and none throws.
#ifndef VOICECTL_RECORD_NET_H_
#define VOICECTL_RECORD_NET_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace voicectl {
namespace net {

// Makes every wait below return once Wake has been called.
class Waker {
 public:
  Waker() = default;
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  bool Open();
  void Wake();
  int fd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
};

// Listens on `address`:`port` (dotted IPv4; port 0: a free one, written to
// *bound). -1 with a message when it cannot.
int Listen(const std::string& address, uint16_t port, uint16_t* bound, std::string* error);

// Waits for a connection and accepts it; -1 once `waker` has woken, or when
// the listener fails. *peer names the client ("127.0.0.1:40112").
int Accept(int listenFd, const Waker& waker, std::string* peer);

// Connects within `timeoutMs`; -1 with a message when it cannot.
int Connect(const std::string& address, uint16_t port, int timeoutMs, std::string* error);

enum class Ready { kFirst, kSecond, kWoken, kTimedOut };
// Waits until `first` or `second` (-1: none) can be read, at most `timeoutMs`.
Ready WaitReadable(int first, int second, const Waker& waker, int timeoutMs);

// One read without waiting: the bytes read, 0 at the peer's orderly end,
// kNothingYet, or -1 on an error (*reset: the peer reset the connection).
constexpr long kNothingYet = -2;
long Receive(int fd, char* buffer, size_t capacity, bool* reset);

// Sends everything; false when the peer has gone.
bool SendAll(int fd, const char* data, size_t length);

// Closes `fd`, with a reset (RST) instead of an orderly end when asked.
void Close(int fd, bool reset);

}  // namespace net
}  // namespace voicectl

#endif  // VOICECTL_RECORD_NET_H_
