// The host's loop set on Linux: one epoll set holding the controller's
// sockets and an event counter for Wake. epoll's own descriptor is
// readable while any member is ready, so the host watches that one
// descriptor in its loop, whatever the number of requests in flight.
#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "platform/loop_set.h"
#include "platform/socket.h"

namespace voicecontrol {
namespace platform {

namespace {

// The key of the wake-up counter; sockets' keys are never 0.
constexpr uint64_t kWakeKey = 0;

uint32_t EpollEvents(unsigned events) {
  // Level-triggered, so that a Collect that stops at its capacity loses
  // nothing (a report stays ready until it is collected), and one report
  // per arming: a socket that has been reported stays in the set, quiet,
  // until Change arms it again. Then a socket closed without EPOLL_CTL_DEL
  // can do no harm even where its descriptor outlives the close (a child
  // forked meanwhile holds a copy, and epoll forgets a socket only when
  // its last descriptor closes): it is reported at most once more, under
  // a key nobody uses any more, which Process skips. A request's socket
  // is closed the moment it has its outcome, so that saves a system call
  // per command.
  uint32_t wanted = EPOLLONESHOT;
  if ((events & LoopSet::kReadable) != 0) wanted |= EPOLLIN;
  if ((events & LoopSet::kWritable) != 0) wanted |= EPOLLOUT;
  return wanted;
}

}  // namespace

struct LoopSet::Impl {
  int set = -1;
  int wake = -1;
  std::atomic<bool> wakePending{false};
};

LoopSet::LoopSet() : impl_(std::make_unique<Impl>()) {}

LoopSet::~LoopSet() {
  if (impl_->set >= 0) ::close(impl_->set);
  if (impl_->wake >= 0) ::close(impl_->wake);
}

bool LoopSet::Open() {
  if (impl_->set >= 0) return true;
  const int set = ::epoll_create1(EPOLL_CLOEXEC);
  if (set < 0) return error_ = errno, false;
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeKey;
  if (wake < 0 || ::epoll_ctl(set, EPOLL_CTL_ADD, wake, &event) != 0) {
    error_ = errno;
    if (wake >= 0) ::close(wake);
    ::close(set);
    return false;
  }
  impl_->set = set;
  impl_->wake = wake;
  return true;
}

intptr_t LoopSet::Descriptor() const { return impl_->set; }

bool LoopSet::Add(const TcpSocket& socket, uint64_t key, unsigned events) {
  epoll_event event{};
  event.events = EpollEvents(events);
  event.data.u64 = key;
  if (::epoll_ctl(impl_->set, EPOLL_CTL_ADD, static_cast<int>(socket.handle_), &event) == 0) {
    return true;
  }
  error_ = errno;
  return false;
}

bool LoopSet::Change(const TcpSocket& socket, uint64_t key, unsigned events) {
  epoll_event event{};
  event.events = EpollEvents(events);
  event.data.u64 = key;
  if (::epoll_ctl(impl_->set, EPOLL_CTL_MOD, static_cast<int>(socket.handle_), &event) == 0) {
    return true;
  }
  error_ = errno;
  return false;
}

bool LoopSet::WatchesBeforeConnect() { return false; }

// Closing the socket takes it out of the set (see EpollEvents).
void LoopSet::Forget(const TcpSocket&, uint64_t) {}

bool LoopSet::WakePending() const { return impl_->wakePending.load(std::memory_order_acquire); }

bool LoopSet::ReadyOnlyWhileSocketsAre() { return true; }

void LoopSet::Wake() {
  // Pending before the counter is written: a Collect that begins after
  // this sees the counter readable.
  impl_->wakePending.store(true, std::memory_order_release);
  const uint64_t one = 1;
  // Fails only when the counter is full, and then it is readable anyway.
  while (::write(impl_->wake, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

int LoopSet::Collect(Ready* ready, int capacity, bool* woken) {
  *woken = false;
  if (impl_->set < 0 || capacity <= 0) return 0;
  // A Wake from now on is pending for the next Collect, whether or not
  // this one reads its counter.
  impl_->wakePending.store(false, std::memory_order_release);
  constexpr int kAtOnce = 64;
  epoll_event events[kAtOnce];
  int got;
  do {
    got = ::epoll_wait(impl_->set, events, capacity < kAtOnce ? capacity : kAtOnce, 0);
  } while (got < 0 && errno == EINTR);
  int count = 0;
  for (int i = 0; i < got; ++i) {
    if (events[i].data.u64 == kWakeKey) {
      uint64_t value;
      while (::read(impl_->wake, &value, sizeof value) < 0 && errno == EINTR) {
      }
      *woken = true;
      continue;
    }
    unsigned what = 0;
    if ((events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) what |= kReadable;
    if ((events[i].events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) != 0) what |= kWritable;
    ready[count].key = events[i].data.u64;
    ready[count].events = what;
    ready[count].error = 0;
    ++count;
  }
  return count;
}

}  // namespace platform
}  // namespace voicecontrol
