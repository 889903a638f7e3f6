#include "controller/receive_threads.h"

#include <algorithm>
#include <deque>
#include <new>
#include <vector>

#include "platform/thread.h"

namespace voicecontrol {
namespace internal {

namespace {

// Threads kept waiting for the next request. Two cover a host that has one
// or two requests in flight at a time.
constexpr size_t kMaxWaiting = 2;

}  // namespace

struct ReceiveThreads::Worker {
  platform::Thread thread;
  bool ended = false;  // guarded by State::mutex
};

struct ReceiveThreads::State {
  platform::Mutex mutex;
  platform::ConditionVariable jobQueued;
  // Everything below is guarded by mutex.
  std::deque<Job> queue;  // jobs handed to waiting threads
  size_t waiting = 0;     // threads waiting for a job
  bool stopping = false;
  std::vector<std::shared_ptr<Worker>> workers;
};

ReceiveThreads::ReceiveThreads() : state_(std::make_shared<State>()) {}

ReceiveThreads::~ReceiveThreads() { Shutdown(); }

bool ReceiveThreads::Run(Job job) {
  // Running out of memory before the job is handed over means no thread
  // for it: it is dropped, as when the system refuses a thread. Nothing
  // after the hand-off may fail any more.
  try {
    if (!HandOver(std::move(job))) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  JoinEndedThreads();
  return true;
}

bool ReceiveThreads::HandOver(Job job) {
  platform::MutexLock lock(&state_->mutex);
  // A waiting thread that no queued job has claimed yet takes it.
  if (!state_->stopping && state_->waiting > state_->queue.size()) {
    state_->queue.push_back(std::move(job));
    // Signalled under the lock: the state may be gone right after it.
    state_->jobQueued.Signal();
    return true;
  }
  auto worker = std::make_shared<Worker>();
  // Room first: once the thread runs, recording it must not fail.
  state_->workers.reserve(state_->workers.size() + 1);
  // The thread keeps its state and its own record alive: both may be
  // dropped here while it runs (when it shuts this object down itself).
  const bool started =
      worker->thread.Start([state = state_, self = worker, job = std::move(job)]() mutable {
        WorkLoop(state, self.get(), std::move(job));
      });
  if (!started) return false;
  state_->workers.push_back(std::move(worker));
  return true;
}

void ReceiveThreads::WorkLoop(const std::shared_ptr<State>& state, Worker* self, Job job) {
  for (;;) {
    job();
    job = nullptr;  // releases the request before waiting
    platform::MutexLock lock(&state->mutex);
    if (state->stopping || state->waiting >= kMaxWaiting) {
      self->ended = true;
      return;
    }
    ++state->waiting;
    while (state->queue.empty() && !state->stopping) state->jobQueued.Wait(&state->mutex);
    --state->waiting;
    if (state->queue.empty()) {
      self->ended = true;
      return;
    }
    job = std::move(state->queue.front());
    state->queue.pop_front();
  }
}

void ReceiveThreads::JoinEndedThreads() {
  // Joins the threads that have ended; without memory for the list they
  // are left for a later call or Shutdown.
  std::vector<std::shared_ptr<Worker>> ended;
  try {
    platform::MutexLock lock(&state_->mutex);
    auto& workers = state_->workers;
    ended.reserve(workers.size());
    auto split = std::stable_partition(workers.begin(), workers.end(),
                                       [](const auto& worker) { return !worker->ended; });
    ended.assign(std::make_move_iterator(split), std::make_move_iterator(workers.end()));
    workers.erase(split, workers.end());
  } catch (const std::bad_alloc&) {
    return;
  }
  for (auto& worker : ended) worker->thread.Join();
}

void ReceiveThreads::Shutdown() {
  // Jobs running meanwhile may start new ones; keep going until no thread
  // is left. Joining happens outside the lock so that they can.
  for (;;) {
    std::vector<std::shared_ptr<Worker>> workers;
    {
      platform::MutexLock lock(&state_->mutex);
      state_->stopping = true;
      state_->jobQueued.Broadcast();
      workers.swap(state_->workers);
    }
    if (workers.empty()) return;
    for (auto& worker : workers) worker->thread.Join();
  }
}

}  // namespace internal
}  // namespace voicecontrol
