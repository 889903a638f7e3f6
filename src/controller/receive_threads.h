// The receive threads of one controller.
//
// Every request in flight has a thread of its own. A thread whose request
// is done waits for the next one; starting a thread per request would add
// its start-up to every answer's latency, and with many requests in flight
// it would be most of their cost. A waiting thread is handed its next
// request together with the socket the answer will come on, and sleeps on
// that socket: it wakes once, when the answer arrives (where the system
// allows; elsewhere the hand-over wakes it too). Two threads keep waiting
// however long no request comes; more, left over from many requests at
// once, end after a while without one, and are joined by the next Run or
// by Shutdown.
#ifndef VOICECONTROL_CONTROLLER_RECEIVE_THREADS_H_
#define VOICECONTROL_CONTROLLER_RECEIVE_THREADS_H_

#include <cstdint>
#include <functional>
#include <memory>

#include "controller/controller_options.h"

namespace voicecontrol {
namespace platform {
class TcpSocket;
}

namespace internal {

class ReceiveThreads {
 public:
  using Job = std::function<void()>;

  ReceiveThreads();
  ~ReceiveThreads();  // Shutdown()
  ReceiveThreads(const ReceiveThreads&) = delete;
  ReceiveThreads& operator=(const ReceiveThreads&) = delete;

  // Runs `job` on a thread of its own: at once on a new thread, or on a
  // waiting thread once `awaited` can be read or the monotonic time
  // `deadlineMs` has come, whichever is first (null `awaited`: at once).
  // The job waits for its socket itself as well; `awaited` must stay open
  // until the job closes it. False when no thread could be started; the
  // job is then dropped without running.
  bool Run(Job job, const platform::TcpSocket* awaited, int64_t deadlineMs);

  // Waits until every job has run (jobs may start more jobs meanwhile) and
  // every thread has ended. On one of these threads itself, that thread is
  // not waited for: it ends once its job returns.
  void Shutdown();

  // The owning controller's settings (see controller_options.h for why
  // they are kept here).
  ControllerOptions options;

 private:
  struct State;
  struct Worker;
  // Gives the job to a waiting thread or starts one; may throw
  // std::bad_alloc, and then has started nothing.
  bool HandOver(Job& job, const platform::TcpSocket* awaited, int64_t deadlineMs);
  static void WorkLoop(const std::shared_ptr<State>& state, Worker* self, Job job);
  // Waits for the next job; false when the thread is to end instead.
  static bool AwaitJob(State& state, Worker* self, Job* job);
  // Records that the thread of `self` ends. The caller holds state.mutex.
  static void MarkEnded(State& state, Worker* self);
  class EndOnUnwind;
  void JoinEndedThreads();

  // Shared with the threads, which may outlive this object when it is
  // destroyed from inside one of their jobs.
  std::shared_ptr<State> state_;
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_RECEIVE_THREADS_H_
