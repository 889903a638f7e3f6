// Threads and mutexes on POSIX systems (what Thread does the same way on
// every system is in thread.cc).
#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "platform/thread.h"
#include "platform/thread_system.h"

namespace voicecontrol {
namespace platform {

namespace {

void* ThreadEntry(void* boxedBody) {
  RunThreadBody(boxedBody);
  return nullptr;
}

}  // namespace

bool StartSystemThread(void* boxedBody, SystemThread* thread) {
  return ::pthread_create(&thread->id, nullptr, ThreadEntry, boxedBody) == 0;
}

void EndSystemThread(SystemThread* thread) {
  if (::pthread_equal(thread->id, ::pthread_self())) {
    ::pthread_detach(thread->id);
  } else {
    ::pthread_join(thread->id, nullptr);
  }
}

struct Mutex::Impl {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}

Mutex::~Mutex() { ::pthread_mutex_destroy(&impl_->mutex); }

void Mutex::Lock() { ::pthread_mutex_lock(&impl_->mutex); }

void Mutex::Unlock() { ::pthread_mutex_unlock(&impl_->mutex); }

struct ConditionVariable::Impl {
  pthread_cond_t condition;
};

ConditionVariable::ConditionVariable() : impl_(std::make_unique<Impl>()) {
  // Timed waits measure against the monotonic clock, immune to changes of
  // the wall clock.
  pthread_condattr_t attributes;
  ::pthread_condattr_init(&attributes);
  ::pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  ::pthread_cond_init(&impl_->condition, &attributes);
  ::pthread_condattr_destroy(&attributes);
}

ConditionVariable::~ConditionVariable() { ::pthread_cond_destroy(&impl_->condition); }

void ConditionVariable::Wait(Mutex* mutex) {
  ::pthread_cond_wait(&impl_->condition, &mutex->impl_->mutex);
}

bool ConditionVariable::WaitFor(Mutex* mutex, int64_t timeoutMs) {
  if (timeoutMs < 0) timeoutMs = 0;
  timespec deadline;
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return ::pthread_cond_timedwait(&impl_->condition, &mutex->impl_->mutex, &deadline) != ETIMEDOUT;
}

void ConditionVariable::Signal() { ::pthread_cond_signal(&impl_->condition); }

void ConditionVariable::Broadcast() { ::pthread_cond_broadcast(&impl_->condition); }

}  // namespace platform
}  // namespace voicecontrol
