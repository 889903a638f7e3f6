// Threads that can be waited for, and a mutex. (The standard library's
// thread and mutex types are not available with every Windows toolchain
// the library is built with.)
#ifndef VOICECONTROL_PLATFORM_THREAD_H_
#define VOICECONTROL_PLATFORM_THREAD_H_

#include <cstdint>
#include <functional>
#include <memory>

#include "internal_export.h"

namespace voicecontrol {
namespace platform {

// A joinable thread. The destructor waits for a thread that was started
// and not yet waited for.
class VC_INTERNAL_API Thread {
 public:
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread with the default stack size. False when
  // the system cannot start one (or a thread was already started here).
  bool Start(std::function<void()> body);

  // Waits for the thread to end. Nothing happens when no thread runs; on
  // the thread itself it detaches instead of waiting forever.
  void Join();

  bool IsStarted() const;

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

class VC_INTERNAL_API Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock();
  void Unlock();

 private:
  friend class ConditionVariable;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Waiting for a condition guarded by a Mutex.
class VC_INTERNAL_API ConditionVariable {
 public:
  ConditionVariable();
  ~ConditionVariable();
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

  // Releases `mutex` (held by the caller) while waiting, and holds it again
  // on return. May return without a signal: callers check their condition
  // in a loop.
  void Wait(Mutex* mutex);
  // Like Wait, for at most `timeoutMs` milliseconds. False when the time
  // ran out.
  bool WaitFor(Mutex* mutex, int64_t timeoutMs);
  // Wakes one waiter, or all of them.
  void Signal();
  void Broadcast();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* mutex_;
};

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_THREAD_H_
