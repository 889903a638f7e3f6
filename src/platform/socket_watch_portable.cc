// Socket watches where the system offers no wait that a second thread can
// extend: handing a socket over wakes the waiting thread at once, and the
// thread then waits for the socket itself.
#include "platform/socket.h"
#include "platform/thread.h"

#include "platform/clock.h"

namespace voicecontrol {
namespace platform {

struct SocketWatch::Impl {
  Mutex mutex;
  ConditionVariable woken;
  bool pending = false;  // guarded by mutex
};

// The watches wake through their own condition variable; the waker holds
// nothing.
WatchWaker::~WatchWaker() = default;

bool WatchWaker::Open() { return true; }

SocketWatch::SocketWatch() : impl_(std::make_unique<Impl>()) {}

SocketWatch::~SocketWatch() = default;

bool SocketWatch::Open(const WatchWaker&) { return true; }

// Nothing of the system's is held.
void SocketWatch::Close() {}

bool SocketWatch::Watch(const TcpSocket& socket) {
  if (!socket.IsOpen()) return false;
  Wake();
  return true;
}

void SocketWatch::Wake() {
  MutexLock lock(&impl_->mutex);
  impl_->pending = true;
  impl_->woken.Signal();
}

WaitResult SocketWatch::Wait(int64_t timeoutMs) {
  const int64_t deadline = MonotonicMilliseconds() + (timeoutMs < 0 ? 0 : timeoutMs);
  MutexLock lock(&impl_->mutex);
  while (!impl_->pending) {
    const int64_t left = deadline - MonotonicMilliseconds();
    if (left <= 0) return WaitResult::kTimedOut;
    impl_->woken.WaitFor(&impl_->mutex, left);
  }
  impl_->pending = false;
  return WaitResult::kReady;
}

}  // namespace platform
}  // namespace voicecontrol
