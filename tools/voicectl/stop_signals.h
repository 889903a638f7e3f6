// Clean-up when voicectl is stopped by a signal rather than by its end.
#ifndef VOICECTL_STOP_SIGNALS_H_
#define VOICECTL_STOP_SIGNALS_H_

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace voicectl {

// While it lives, SIGINT, SIGTERM and SIGHUP run `cleanUp` on a thread of
// its own and then end the process by that signal, as if nobody had
// caught it. Make it before any other thread (the library's receive
// threads inherit the blocked signals, so that only its thread takes
// them), on the main thread.
class CleanUpOnStopSignal {
 public:
  explicit CleanUpOnStopSignal(std::function<void()> cleanUp);
  // Stops the waiting thread; a stop signal that comes later ends the
  // process without `cleanUp`.
  ~CleanUpOnStopSignal();
  CleanUpOnStopSignal(const CleanUpOnStopSignal&) = delete;
  CleanUpOnStopSignal& operator=(const CleanUpOnStopSignal&) = delete;

 private:
  void Wait();

  std::function<void()> cleanUp_;
  sigset_t previousMask_;
  std::atomic<bool> quitting_{false};  // the destructor's kQuit is on its way
  std::thread waiter_;
};

}  // namespace voicectl

#endif  // VOICECTL_STOP_SIGNALS_H_
