#include "controller/cancel.h"

#include "platform/loop_set.h"
#include "platform/socket.h"

namespace voicecontrol {
namespace internal {

bool CancelPoint::Cancel() {
  int open = kOpen;
  if (!state_.compare_exchange_strong(open, kCancelled, std::memory_order_acq_rel)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_ != nullptr) socket_->Shutdown();
  if (loop_ != nullptr) loop_->Wake();
  return true;
}

bool CancelPoint::Settle() {
  int open = kOpen;
  return state_.compare_exchange_strong(open, kSettled, std::memory_order_acq_rel) ||
         open == kSettled;
}

bool CancelPoint::Attach(platform::TcpSocket* socket, platform::LoopSet* loop) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Checked under the lock: a cancel that came before has found no socket
  // to shut down, and one that comes after will find this one.
  if (cancelled()) return false;
  socket_ = socket;
  loop_ = loop;
  return true;
}

void CancelPoint::Detach() {
  std::lock_guard<std::mutex> lock(mutex_);
  socket_ = nullptr;
  loop_ = nullptr;
}

int CancelRegistry::Cancel(void* key) {
  std::lock_guard<std::mutex> lock(mutex_);
  int cancelled = 0;
  for (CancelPoint* point = first_; point != nullptr; point = point->next_) {
    if (point->key_ == key && point->Cancel()) ++cancelled;
  }
  return cancelled;
}

}  // namespace internal
}  // namespace voicecontrol
