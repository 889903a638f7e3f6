// The simulator's journal of requests: every request as it arrived, and
// later what it was answered with. The connection threads write it; the
// host's tests and the admin interface read it.
#ifndef VOICECONTROL_TOOLS_SIMULATOR_JOURNAL_H_
#define VOICECONTROL_TOOLS_SIMULATOR_JOURNAL_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <voicecontrol/testing/simulator.h>

namespace voicecontrol {
namespace testing {

class Journal {
 public:
  // Keeps the most recent `limit` requests (0: none, only the count).
  explicit Journal(size_t limit) : limit_(limit) {}

  // Numbers the request, stamps its arrival, keeps a copy; returns its number.
  uint64_t Record(ReceivedRequest* request);
  // Lets `fill` set the answer's members of request `number` (when still
  // kept) and marks it answered.
  void Complete(uint64_t number, const std::function<void(ReceivedRequest&)>& fill);

  // The requests kept of kind `method` ("" any) numbered above `after`.
  std::vector<ReceivedRequest> Entries(const std::string& method, uint64_t after) const;
  uint64_t Count() const;
  bool WaitForCount(uint64_t count, std::chrono::milliseconds timeout) const;
  void Clear();

 private:
  const size_t limit_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::deque<ReceivedRequest> entries_;  // numbers ascending, without gaps
  uint64_t count_ = 0;
};

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_JOURNAL_H_
