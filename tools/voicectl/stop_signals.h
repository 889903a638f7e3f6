// Clean-up when voicectl is stopped by a signal rather than by its end,
// and serve's wait for the signal that stops it. POSIX signals in
// stop_signals.cc; on Windows (stop_signals_windows.cc) the console's
// control events stand for them: Ctrl-C for SIGINT, Ctrl-Break for
// SIGBREAK, closing the console, logging off and shutting down for SIGTERM.
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
// them), on the main thread. On Windows the system runs the console's
// handler on a thread of its own; after `cleanUp` the default handling
// ends the process.
class CleanUpOnStopSignal {
 public:
  explicit CleanUpOnStopSignal(std::function<void()> cleanUp);
  // Stops the waiting thread; a stop signal that comes later ends the
  // process without `cleanUp`.
  ~CleanUpOnStopSignal();
  CleanUpOnStopSignal(const CleanUpOnStopSignal&) = delete;
  CleanUpOnStopSignal& operator=(const CleanUpOnStopSignal&) = delete;

 private:
  std::function<void()> cleanUp_;
#ifndef _WIN32
  void Wait();

  sigset_t previousMask_;
  std::atomic<bool> quitting_{false};  // the destructor's kQuit is on its way
  std::thread waiter_;
#endif
};

// serve's stop: from its making on (on the main thread, before any other
// thread), SIGINT and SIGTERM wait for Wait(), which returns the number of
// the first that came.
class StopSignalWait {
 public:
  StopSignalWait();
  ~StopSignalWait();
  StopSignalWait(const StopSignalWait&) = delete;
  StopSignalWait& operator=(const StopSignalWait&) = delete;
  int Wait();

#ifndef _WIN32
 private:
  sigset_t signals_;
#endif
};

}  // namespace voicectl

#endif  // VOICECTL_STOP_SIGNALS_H_
