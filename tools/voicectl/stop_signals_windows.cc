// The stop signals on Windows (stop_signals.h): the console's control
// events. The system calls a console handler on a thread it starts for the
// event; a handler that returns FALSE passes the event on, and the last,
// the system's own, ends the process (exit status STATUS_CONTROL_C_EXIT).
// A handler takes no argument, so each kind keeps its one object in a
// variable of this file, guarded by a mutex.
#include "stop_signals.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <utility>

namespace voicectl {

namespace {

// The signal an event stands for, as the C runtime numbers them.
int SignalOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    default:  // closing the console, logging off, shutting down
      return SIGTERM;
  }
}

std::mutex cleanUpMutex;
CleanUpOnStopSignal* cleanUpTarget = nullptr;  // the object alive, if any
std::function<void()>* cleanUpWork = nullptr;

BOOL WINAPI CleanUpHandler(DWORD) {
  std::lock_guard<std::mutex> lock(cleanUpMutex);
  if (cleanUpWork != nullptr) {
    (*cleanUpWork)();
    cleanUpWork = nullptr;  // once
  }
  return FALSE;  // the system's handler ends the process
}

std::mutex stopMutex;
std::condition_variable stopCame;
int stopSignal = 0;

BOOL WINAPI StopHandler(DWORD event) {
  {
    std::lock_guard<std::mutex> lock(stopMutex);
    if (stopSignal == 0) stopSignal = SignalOf(event);
  }
  stopCame.notify_all();
  // For Ctrl-C and Ctrl-Break the process goes on; after the other events
  // the system ends it once the handler returns, so this one gives serve a
  // moment to stop its threads.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(2000);
  return TRUE;
}

}  // namespace

CleanUpOnStopSignal::CleanUpOnStopSignal(std::function<void()> cleanUp)
    : cleanUp_(std::move(cleanUp)) {
  {
    std::lock_guard<std::mutex> lock(cleanUpMutex);
    cleanUpTarget = this;
    cleanUpWork = &cleanUp_;
  }
  SetConsoleCtrlHandler(CleanUpHandler, TRUE);
}

CleanUpOnStopSignal::~CleanUpOnStopSignal() {
  SetConsoleCtrlHandler(CleanUpHandler, FALSE);
  // Waits for a handler still running the clean-up.
  std::lock_guard<std::mutex> lock(cleanUpMutex);
  if (cleanUpTarget == this) {
    cleanUpTarget = nullptr;
    cleanUpWork = nullptr;
  }
}

StopSignalWait::StopSignalWait() { SetConsoleCtrlHandler(StopHandler, TRUE); }

StopSignalWait::~StopSignalWait() { SetConsoleCtrlHandler(StopHandler, FALSE); }

int StopSignalWait::Wait() {
  std::unique_lock<std::mutex> lock(stopMutex);
  stopCame.wait(lock, [] { return stopSignal != 0; });
  return stopSignal;
}

}  // namespace voicectl
