#include "journal.h"

namespace voicecontrol {
namespace testing {

uint64_t Journal::Record(ReceivedRequest* request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request->number = ++count_;
    request->arrivedAt = std::chrono::system_clock::now();
    if (limit_ > 0) {
      if (entries_.size() >= limit_) entries_.pop_front();
      entries_.push_back(*request);
    }
  }
  arrived_.notify_all();
  return request->number;
}

void Journal::Complete(uint64_t number, const std::function<void(ReceivedRequest&)>& fill) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Numbers have no gaps, so the entry's place follows from the first one;
  // a Clear since the request arrived leaves nothing to complete.
  if (entries_.empty() || number < entries_.front().number) return;
  const uint64_t index = number - entries_.front().number;
  if (index >= entries_.size() || entries_[index].number != number) return;
  ReceivedRequest& entry = entries_[index];
  fill(entry);
  entry.answered = true;
  entry.answeredAt = std::chrono::system_clock::now();
}

std::vector<ReceivedRequest> Journal::Entries(const std::string& method, uint64_t after) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ReceivedRequest> found;
  for (const ReceivedRequest& entry : entries_) {
    if (entry.number > after && (method.empty() || entry.method == method)) {
      found.push_back(entry);
    }
  }
  return found;
}

uint64_t Journal::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

bool Journal::WaitForCount(uint64_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [this, count] { return count_ >= count; });
}

void Journal::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  count_ = 0;
}

}  // namespace testing
}  // namespace voicecontrol
