// TCP over IPv4 for the tools (the simulator, its admin interface and
// voicectl): what a small server needs, on POSIX sockets and on Windows
// Sockets alike.
//
// Why not the library's own layer (src/platform/socket.h)? Its classes are
// internal: a release build of the library exports none of them, and the
// tools must run against the library as it ships (voicectl.exe beside the
// zip's voicecontrol.dll, a host's tests linking voicecontrol::testing
// against the installed DLL or shared library). A static copy of it in the
// tools would collide with the exported one in test builds. It also serves
// the client's side (a bounded connect, loopback-only listening), while the
// simulator needs a server's (any address, accept without waiting, a
// reset on close). So the tools keep this small layer of their own:
// net_posix.cc and net_windows.cc.
//
// Nothing here initialises Windows Sockets: voicectl does (SocketLibrary),
// a host's test program does for itself as it does for the library.
#ifndef VOICECONTROL_TOOLS_COMMON_NET_H_
#define VOICECONTROL_TOOLS_COMMON_NET_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace voicecontrol {
namespace testing {
namespace net {

#ifdef _WIN32
using Handle = uintptr_t;  // SOCKET
#else
using Handle = int;
#endif

// What the last failed call on this thread ran into.
enum class Failure {
  kWouldBlock,   // nothing to read yet, or no room to send: wait, then again
  kInterrupted,  // a signal came first: simply again
  kNoResources,  // out of descriptors or memory: again later
  kOther,
};
Failure LastFailure();
// The system's words for the last failure on this thread ("Connection
// refused"): strerror on POSIX, the system's message on Windows.
std::string LastErrorText();
// The last failure was a connection reset by the peer.
bool LastFailureWasReset();

// One stream socket, non-blocking where it matters (see Receive and Send).
// Move-only; the destructor closes it.
class Socket {
 public:
  Socket() = default;
  explicit Socket(Handle handle) : handle_(handle) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : handle_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool IsOpen() const { return handle_ != kInvalid; }
  Handle handle() const { return handle_; }

  // One read that never waits: the bytes read, 0 at the end of the stream,
  // -1 on failure (LastFailure: kWouldBlock when nothing has arrived).
  long Receive(char* buffer, size_t capacity);
  // One send that never waits and never raises a signal: the bytes the
  // system took, or -1 (LastFailure: kWouldBlock when it has no room).
  long Send(const char* data, size_t length);
  // Ends the sending direction: the peer reads the end of the stream.
  void ShutdownWrite();
  // A linger time of 0: the close sends a reset instead of an orderly end.
  void ResetOnClose();
  // Sends each piece at once, without Nagle's delay.
  void NoDelay();
  void Close();

 private:
#ifdef _WIN32
  static constexpr Handle kInvalid = ~Handle(0);  // INVALID_SOCKET
#else
  static constexpr Handle kInvalid = -1;
#endif
  Handle Release() {
    const Handle handle = handle_;
    handle_ = kInvalid;
    return handle;
  }

  Handle handle_ = kInvalid;
};

// A listening socket that accepts without waiting.
class Listener {
 public:
  // Listens on `host` (a dotted IPv4 address):`port` (0: a free one).
  // Throws std::runtime_error: "not an IPv4 address: HOST", "socket:
  // REASON", "cannot listen on HOST:PORT: REASON". An address another
  // socket listens on is refused on every system.
  Listener(const std::string& host, uint16_t port);
  uint16_t port() const { return port_; }
  const Socket& socket() const { return socket_; }
  // The next connection, or a socket that is not open when none is
  // waiting (LastFailure says why). `peer` gets "ADDRESS:PORT".
  Socket Accept(std::string* peer);
  void Close() { socket_.Close(); }

 private:
  Socket socket_;
  uint16_t port_ = 0;
};

// What became of a wait.
enum class Ready { kReady, kTimedOut, kStopped, kFailed };

// What ends every wait of a server at once: readable from Wake() on.
class Waker {
 public:
  Waker();  // throws std::runtime_error when the system refuses
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  void Wake();
  // What a wait watches.
  Handle watched() const;

 private:
#ifdef _WIN32
  Socket socket_;  // a loopback datagram socket that sends to itself
#else
  int fds_[2] = {-1, -1};  // a pipe
#endif
};

// Waits until `socket` is readable (or writable, `write`), `waker` has
// woken, or `timeoutMs` passes (-1: no limit). A signal that interrupts
// the wait counts as the time passing. An error pending on the socket
// makes it ready: the next call reports it.
Ready WaitFor(const Socket& socket, bool write, const Waker& waker, int timeoutMs);

// Windows Sockets for the process, while it lives (WSAStartup,
// WSACleanup); nothing to do on POSIX.
class SocketLibrary {
 public:
  SocketLibrary();
  ~SocketLibrary();
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = true;
};

// The address of dotted `text` ("127.0.0.1", four decimal parts, as
// inet_pton reads it), in host order.
bool ParseIpv4(const std::string& text, uint32_t* address);

// The IPv4 address of `host` in dotted form: a dotted address as it is, a
// name through the resolver. False with a message when it has none.
bool ResolveIpv4(const std::string& host, std::string* address, std::string* error);

}  // namespace net
}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_COMMON_NET_H_
