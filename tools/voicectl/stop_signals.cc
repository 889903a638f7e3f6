#include "stop_signals.h"

#include <pthread.h>
#include <unistd.h>

#include <utility>

namespace voicectl {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Sent by the destructor to its own waiting thread. Sent by anyone else,
// it ends the process as its default action would, after the clean-up.
constexpr int kQuit = SIGUSR1;

sigset_t WaitedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) sigaddset(&set, signal);
  sigaddset(&set, kQuit);
  return set;
}

}  // namespace

CleanUpOnStopSignal::CleanUpOnStopSignal(std::function<void()> cleanUp)
    : cleanUp_(std::move(cleanUp)) {
  const sigset_t waited = WaitedSignals();
  pthread_sigmask(SIG_BLOCK, &waited, &previousMask_);
  waiter_ = std::thread([this] { Wait(); });
}

CleanUpOnStopSignal::~CleanUpOnStopSignal() {
  quitting_.store(true);
  pthread_kill(waiter_.native_handle(), kQuit);
  waiter_.join();
  // A stop signal still pending arrives now and ends the process.
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void CleanUpOnStopSignal::Wait() {
  const sigset_t waited = WaitedSignals();
  siginfo_t info{};
  int signal = 0;
  while ((signal = sigwaitinfo(&waited, &info)) < 0) {
    // EINTR: a signal outside the set (SIGSTOP/SIGCONT) interrupted it.
  }
  if (signal == kQuit && quitting_.load() && info.si_pid == getpid()) return;
  cleanUp_();
  // End as the signal's default action would, with its exit status.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

StopSignalWait::StopSignalWait() {
  // Blocked in every thread, then waited for here.
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

StopSignalWait::~StopSignalWait() = default;

int StopSignalWait::Wait() {
  int signal = 0;
  sigwait(&signals_, &signal);
  return signal;
}

}  // namespace voicectl
