// Cancelling a request in flight.
//
// A CancelPoint belongs to one request and decides, once, how the request
// ends: by its own outcome (Settle) or by the host's cancel (Cancel),
// whichever comes first. A cancel that wins also shuts the request's socket
// down at once, from the cancelling thread: the thread that owns the
// request, blocked in its connect or in the wait for the answer, wakes and
// reports "cancelled." in place of whatever it would have reported. The
// socket itself is closed only by its owner, so that a cancel never closes
// a descriptor the system may already have handed to someone else.
//
// A CancelRegistry finds the requests to cancel: the C interface keeps one
// per controller (a cancel names a tag), a CancelToken is one. Points are
// linked into it while their request is in flight; linking allocates
// nothing, since each point lives inside its request's sink.
#ifndef VOICECONTROL_CONTROLLER_CANCEL_H_
#define VOICECONTROL_CONTROLLER_CANCEL_H_

#include <atomic>
#include <mutex>

namespace voicecontrol {
namespace platform {
class LoopSet;
class TcpSocket;
}

namespace internal {

class CancelPoint {
 public:
  CancelPoint() = default;
  CancelPoint(const CancelPoint&) = delete;
  CancelPoint& operator=(const CancelPoint&) = delete;

  // From any thread. True when the request was still open: it now ends in
  // "cancelled.", and its socket, if it has one, has been shut down. False
  // once it has settled (its outcome is being or has been delivered) or was
  // cancelled before.
  bool Cancel();

  // The owner, before it delivers the request's outcome. False when the
  // host cancelled first: the outcome is then "cancelled.".
  bool Settle();

  bool cancelled() const { return state_.load(std::memory_order_acquire) == kCancelled; }

  // The owner: the socket a cancel shuts down, from now until Detach. False
  // when the request has been cancelled already (the socket is then left
  // alone, and the owner ends the request). `loop`: the set of a host's
  // loop that owns the request, woken by a cancel as well, so that the
  // loop ends the request even where a shut-down socket reports nothing
  // (a connect in progress on Windows).
  bool Attach(platform::TcpSocket* socket, platform::LoopSet* loop = nullptr);
  // The owner, before it closes the socket.
  void Detach();

 private:
  friend class CancelRegistry;
  enum State { kOpen, kSettled, kCancelled };
  std::atomic<int> state_{kOpen};
  std::mutex mutex_;  // guards socket_ against its owner's Detach
  platform::TcpSocket* socket_ = nullptr;
  platform::LoopSet* loop_ = nullptr;
  // Guarded by the registry's mutex while linked.
  void* key_ = nullptr;
  CancelPoint* previous_ = nullptr;
  CancelPoint* next_ = nullptr;
};

class CancelRegistry {
 public:
  CancelRegistry() = default;
  CancelRegistry(const CancelRegistry&) = delete;
  CancelRegistry& operator=(const CancelRegistry&) = delete;

  // Links `point` under `key` until Remove. Inline, as the sinks that call
  // them are (request_sink.h).
  void Add(CancelPoint* point, void* key) {
    std::lock_guard<std::mutex> lock(mutex_);
    point->key_ = key;
    point->previous_ = nullptr;
    point->next_ = first_;
    if (first_ != nullptr) first_->previous_ = point;
    first_ = point;
  }

  void Remove(CancelPoint* point) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (point->previous_ != nullptr) {
      point->previous_->next_ = point->next_;
    } else if (first_ == point) {
      first_ = point->next_;
    }
    if (point->next_ != nullptr) point->next_->previous_ = point->previous_;
    point->previous_ = point->next_ = nullptr;
  }

  // Cancels every open request linked under `key`; how many were.
  int Cancel(void* key);

 private:
  std::mutex mutex_;
  CancelPoint* first_ = nullptr;
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_CANCEL_H_
