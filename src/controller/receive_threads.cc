#include "controller/receive_threads.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "controller/host_loop.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace voicecontrol {
namespace internal {

namespace {

// Threads kept waiting however long no request comes. Two cover a host
// that has one or two requests in flight at a time.
constexpr size_t kKeptWaiting = 2;

// A waiting thread looks up at least this often; one beyond the kept ones
// that found no job for a whole period ends. Shorter than the default
// answer time-out, so that a job handed over usually comes before its
// thread's wait would end by itself and needs no wake-up of its own; a
// host that chose a shorter one pays a wake-up per request.
constexpr int64_t kWaitPeriodMs = 2000;

}  // namespace

struct ReceiveThreads::Worker {
  platform::Thread thread;
  platform::SocketWatch watch;  // what the thread sleeps on while waiting
  // Guarded by State::mutex.
  ReceiveThreads::Job job;  // handed over, not yet taken
  bool hasJob = false;
  int64_t wakeAt = 0;  // when the thread's current wait ends by itself
  bool ended = false;
};

struct ReceiveThreads::State {
  platform::Mutex mutex;
  platform::WatchWaker waker;  // opened by the first thread that waits
  // Everything below is guarded by mutex.
  std::vector<Worker*> waiting;  // threads without a job, the latest last
  bool stopping = false;
  std::vector<std::shared_ptr<Worker>> workers;
  // Workers whose thread has ended, not yet joined. Changed under mutex;
  // read without it too, so that the common case, nothing to join, takes
  // no lock on the path of every request.
  std::atomic<size_t> ended{0};
};

ReceiveThreads::ReceiveThreads() : state_(std::make_shared<State>()) {}

ReceiveThreads::~ReceiveThreads() {
  // The requests the host's loop carries end now; those of the threads
  // are waited for.
  if (options.hostLoop != nullptr) options.hostLoop->Close();
  Shutdown();
}

bool ReceiveThreads::Run(Job job, const platform::TcpSocket* awaited, int64_t deadlineMs) {
  // Joining comes first: once the job is handed over, its callbacks may
  // destroy the controller, and this object with it, before Run returns.
  JoinEndedThreads();
  // Running out of memory before the job is handed over means no thread
  // for it: it is dropped, as when the system refuses a thread. Nothing
  // after the hand-over may fail any more, nor touch this object.
  try {
    return HandOver(job, awaited, deadlineMs);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ReceiveThreads::HandOver(Job& job, const platform::TcpSocket* awaited, int64_t deadlineMs) {
  platform::MutexLock lock(&state_->mutex);
  if (!state_->stopping && !state_->waiting.empty()) {
    Worker* worker = state_->waiting.back();
    state_->waiting.pop_back();
    worker->job = std::move(job);
    worker->hasJob = true;
    // The thread sleeps on the socket and wakes when the answer comes, or
    // when its wait ends by itself, before the deadline. Only a deadline
    // earlier than that, a socket that cannot be watched, or none at all
    // needs it woken now.
    if (awaited == nullptr || deadlineMs < worker->wakeAt || !worker->watch.Watch(*awaited)) {
      worker->watch.Wake();
    }
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

// A job may end its thread without returning: a host callback that calls
// pthread_exit unwinds the thread's stack through WorkLoop. The thread is
// then recorded as ended, as one that ends by itself, so that it is joined
// and its watch given back, and the rest of the controller carries on.
class ReceiveThreads::EndOnUnwind {
 public:
  EndOnUnwind(State& state, Worker* self) : state_(state), self_(self) {}
  ~EndOnUnwind() {
    if (!armed_) return;
    platform::MutexLock lock(&state_.mutex);
    MarkEnded(state_, self_);
  }
  EndOnUnwind(const EndOnUnwind&) = delete;
  EndOnUnwind& operator=(const EndOnUnwind&) = delete;

  void Disarm() { armed_ = false; }

 private:
  State& state_;
  Worker* const self_;
  bool armed_ = true;
};

void ReceiveThreads::WorkLoop(const std::shared_ptr<State>& state, Worker* self, Job job) {
  EndOnUnwind endOnUnwind(*state, self);
  do {
    job();
    job = nullptr;  // releases the request before waiting
  } while (AwaitJob(*state, self, &job));
  endOnUnwind.Disarm();  // AwaitJob has recorded the end
}

void ReceiveThreads::MarkEnded(State& state, Worker* self) {
  auto& waiting = state.waiting;
  waiting.erase(std::remove(waiting.begin(), waiting.end(), self), waiting.end());
  // Out of the waiting list nobody hands this thread a socket any more:
  // its watch goes now rather than when the thread is joined, which may
  // be long after (at the next request).
  self->watch.Close();
  self->ended = true;
  ++state.ended;
}

bool ReceiveThreads::AwaitJob(State& state, Worker* self, Job* job) {
  platform::MutexLock lock(&state.mutex);
  // Opening takes system calls under the lock, but once per thread only.
  const bool canWait = state.waker.Open() && self->watch.Open(state.waker);
  auto end = [&] {
    MarkEnded(state, self);
    return false;
  };
  if (state.stopping || !canWait) return end();
  state.waiting.push_back(self);
  int64_t now = platform::MonotonicMilliseconds();
  self->wakeAt = now + kWaitPeriodMs;
  for (;;) {
    const int64_t wakeAt = self->wakeAt;
    state.mutex.Unlock();
    const platform::WaitResult woken = self->watch.Wait(wakeAt - now);
    state.mutex.Lock();
    if (self->hasJob) {
      *job = std::move(self->job);
      self->hasJob = false;
      return true;
    }
    // A wait that fails would fail again at once: end rather than spin.
    if (state.stopping || woken == platform::WaitResult::kFailed) return end();
    now = platform::MonotonicMilliseconds();
    if (now >= self->wakeAt) {
      // A whole period without a job: only the kept threads go on waiting.
      if (state.waiting.size() > kKeptWaiting) return end();
      self->wakeAt = now + kWaitPeriodMs;
    }
  }
}

void ReceiveThreads::JoinEndedThreads() {
  // Joins the threads that have ended; without memory for the list they
  // are left for a later call or Shutdown.
  if (state_->ended.load(std::memory_order_relaxed) == 0) return;
  std::vector<std::shared_ptr<Worker>> ended;
  try {
    platform::MutexLock lock(&state_->mutex);
    if (state_->ended == 0) return;
    auto& workers = state_->workers;
    ended.reserve(state_->ended);
    auto split = std::stable_partition(workers.begin(), workers.end(),
                                       [](const auto& worker) { return !worker->ended; });
    ended.assign(std::make_move_iterator(split), std::make_move_iterator(workers.end()));
    workers.erase(split, workers.end());
    state_->ended -= ended.size();
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
      for (Worker* worker : state_->waiting) worker->watch.Wake();
      workers.swap(state_->workers);
      state_->ended = 0;
    }
    if (workers.empty()) return;
    for (auto& worker : workers) worker->thread.Join();
  }
}

}  // namespace internal
}  // namespace voicecontrol
