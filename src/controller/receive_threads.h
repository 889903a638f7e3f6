// The receive threads of one controller.
//
// Every request in flight has a thread of its own. A thread whose request
// is done waits for the next one (a few threads at most); starting a thread
// per request would add its start-up to every answer's latency. Threads
// beyond those end at once and are joined by the next Run or by Shutdown.
#ifndef VOICECONTROL_CONTROLLER_RECEIVE_THREADS_H_
#define VOICECONTROL_CONTROLLER_RECEIVE_THREADS_H_

#include <functional>
#include <memory>

namespace voicecontrol {
namespace internal {

class ReceiveThreads {
 public:
  using Job = std::function<void()>;

  ReceiveThreads();
  ~ReceiveThreads();  // Shutdown()
  ReceiveThreads(const ReceiveThreads&) = delete;
  ReceiveThreads& operator=(const ReceiveThreads&) = delete;

  // Runs `job` on a waiting thread or a new one. False when no thread
  // could be started; the job is then dropped without running.
  bool Run(Job job);

  // Waits until every job has run (jobs may start more jobs meanwhile) and
  // every thread has ended. On one of these threads itself, that thread is
  // not waited for: it ends once its job returns.
  void Shutdown();

 private:
  struct State;
  struct Worker;
  // Queues the job for a waiting thread or starts one; may throw
  // std::bad_alloc, and then has started nothing.
  bool HandOver(Job job);
  static void WorkLoop(const std::shared_ptr<State>& state, Worker* self, Job job);
  void JoinEndedThreads();

  // Shared with the threads, which may outlive this object when it is
  // destroyed from inside one of their jobs.
  std::shared_ptr<State> state_;
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_RECEIVE_THREADS_H_
