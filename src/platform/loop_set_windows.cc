// The host's loop set on Windows: one manual-reset event object that
// every socket of the set signals through WSAEventSelect. The host waits
// on that event (WaitForMultipleObjects, MsgWaitForMultipleObjects, a
// QWinEventNotifier, ...). Windows Sockets records each socket's network
// events until WSAEnumNetworkEvents fetches them, so Collect resets the
// event first and then asks every socket: an event recorded after the
// reset signals the event again, and none is lost.
#include <winsock2.h>

#include <atomic>
#include <map>

#include "platform/loop_set.h"
#include "platform/socket.h"

namespace voicecontrol {
namespace platform {

struct LoopSet::Impl {
  WSAEVENT event = WSA_INVALID_EVENT;
  std::atomic<bool> woken{false};
  // The sockets in the set by key; the loop's thread alone uses it. A
  // request has few sockets in flight at once on the platforms this
  // serves, so asking each of them per Collect costs little.
  std::map<uint64_t, SOCKET> sockets;
};

LoopSet::LoopSet() : impl_(std::make_unique<Impl>()) {}

LoopSet::~LoopSet() {
  if (impl_->event != WSA_INVALID_EVENT) ::WSACloseEvent(impl_->event);
}

bool LoopSet::Open() {
  if (impl_->event != WSA_INVALID_EVENT) return true;
  impl_->event = ::WSACreateEvent();
  if (impl_->event == WSA_INVALID_EVENT) return error_ = ::WSAGetLastError(), false;
  return true;
}

intptr_t LoopSet::Descriptor() const {
  return impl_->event == WSA_INVALID_EVENT ? -1 : reinterpret_cast<intptr_t>(impl_->event);
}

// Every socket is watched for all its events at once: they are recorded
// once each, not reported while a state lasts, so the ones the request
// does not wait for cost one look and no busy loop.
bool LoopSet::Add(const TcpSocket& socket, uint64_t key, unsigned) {
  const SOCKET s = static_cast<SOCKET>(socket.handle_);
  if (::WSAEventSelect(s, impl_->event, FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE) != 0) {
    return error_ = ::WSAGetLastError(), false;
  }
  impl_->sockets[key] = s;
  return true;
}

// Windows Sockets records each event once and records it again after the
// call that re-enables it (a recv, a send that found no room): that is
// the arming Change does elsewhere.
bool LoopSet::Change(const TcpSocket&, uint64_t, unsigned) { return true; }

bool LoopSet::WatchesBeforeConnect() { return true; }

bool LoopSet::WakePending() const { return impl_->woken.load(std::memory_order_acquire); }

bool LoopSet::ReadyOnlyWhileSocketsAre() { return false; }

void LoopSet::Forget(const TcpSocket&, uint64_t key) { impl_->sockets.erase(key); }

void LoopSet::Wake() {
  impl_->woken.store(true, std::memory_order_release);
  ::WSASetEvent(impl_->event);
}

int LoopSet::Collect(Ready* ready, int capacity, bool* woken) {
  *woken = false;
  if (impl_->event == WSA_INVALID_EVENT || capacity <= 0) return 0;
  ::WSAResetEvent(impl_->event);
  *woken = impl_->woken.exchange(false, std::memory_order_acq_rel);
  int count = 0;
  for (const auto& [key, s] : impl_->sockets) {
    if (count == capacity) {
      // The rest are asked at the next Collect; the host must come back.
      ::WSASetEvent(impl_->event);
      break;
    }
    WSANETWORKEVENTS events;
    if (::WSAEnumNetworkEvents(s, nullptr, &events) != 0) {
      ready[count++] = Ready{key, kReadable | kWritable, ::WSAGetLastError()};
      continue;
    }
    if (events.lNetworkEvents == 0) continue;
    Ready& one = ready[count++];
    one.key = key;
    one.events = 0;
    one.error = 0;
    if ((events.lNetworkEvents & (FD_READ | FD_CLOSE)) != 0) one.events |= kReadable;
    if ((events.lNetworkEvents & (FD_WRITE | FD_CONNECT)) != 0) one.events |= kWritable;
    if ((events.lNetworkEvents & FD_CONNECT) != 0) one.error = events.iErrorCode[FD_CONNECT_BIT];
  }
  return count;
}

}  // namespace platform
}  // namespace voicecontrol
