// Socket watches on Linux: one epoll set per watch. Handing a socket over
// adds it to the set of the waiting thread, which the kernel wakes only
// when data arrives; nothing wakes it for the hand-over.
#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <climits>

#include "platform/clock.h"
#include "platform/socket.h"

namespace voicecontrol {
namespace platform {

namespace {

// Arms `fd` in `set` for one readiness report; re-arms it when it is
// there from an earlier report.
bool ArmOnce(int set, int fd) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLONESHOT;
  event.data.fd = fd;
  if (::epoll_ctl(set, EPOLL_CTL_ADD, fd, &event) == 0) return true;
  return errno == EEXIST && ::epoll_ctl(set, EPOLL_CTL_MOD, fd, &event) == 0;
}

}  // namespace

// The waker is a descriptor that is always readable (an event counter set
// to 1 that nobody reads): arming it in a watch's set wakes that set's
// waiter.
WatchWaker::~WatchWaker() {
  if (handle_ != TcpSocket::kInvalid) ::close(static_cast<int>(handle_));
}

bool WatchWaker::Open() {
  if (handle_ != TcpSocket::kInvalid) return true;
  const int fd = ::eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

struct SocketWatch::Impl {
  int set = -1;
  int waker = -1;
};

SocketWatch::SocketWatch() : impl_(std::make_unique<Impl>()) {}

SocketWatch::~SocketWatch() { Close(); }

void SocketWatch::Close() {
  if (impl_->set >= 0) ::close(impl_->set);
  impl_->set = -1;
}

bool SocketWatch::Open(const WatchWaker& waker) {
  if (impl_->set >= 0) return true;
  if (waker.handle_ == TcpSocket::kInvalid) return false;
  impl_->waker = static_cast<int>(waker.handle_);
  impl_->set = ::epoll_create1(EPOLL_CLOEXEC);
  return impl_->set >= 0;
}

bool SocketWatch::Watch(const TcpSocket& socket) {
  return impl_->set >= 0 && socket.IsOpen() &&
         ArmOnce(impl_->set, static_cast<int>(socket.handle_));
}

void SocketWatch::Wake() {
  if (impl_->set >= 0) ArmOnce(impl_->set, impl_->waker);
}

WaitResult SocketWatch::Wait(int64_t timeoutMs) {
  if (impl_->set < 0) return WaitResult::kFailed;
  const int64_t deadline = MonotonicMilliseconds() + (timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const int64_t left = deadline - MonotonicMilliseconds();
    const int limit = left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
    epoll_event events[2];
    const int ready = ::epoll_wait(impl_->set, events, 2, limit);
    if (ready > 0) return WaitResult::kReady;
    if (ready == 0) return WaitResult::kTimedOut;
    if (errno != EINTR) return WaitResult::kFailed;
  }
}

}  // namespace platform
}  // namespace voicecontrol
