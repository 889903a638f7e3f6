// Threads and mutexes on POSIX systems.
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <utility>

#include "platform/thread.h"

namespace voicecontrol {
namespace platform {

struct Thread::Handle {
  pthread_t id;
};

namespace {

void* RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return nullptr;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
  if (handle_) return false;
  auto boxed = std::make_unique<std::function<void()>>(std::move(body));
  auto handle = std::make_unique<Handle>();
  if (::pthread_create(&handle->id, nullptr, RunBody, boxed.get()) != 0) return false;
  boxed.release();  // the thread owns it now
  handle_ = std::move(handle);
  return true;
}

void Thread::Join() {
  if (!handle_) return;
  if (::pthread_equal(handle_->id, ::pthread_self())) {
    ::pthread_detach(handle_->id);
  } else {
    ::pthread_join(handle_->id, nullptr);
  }
  handle_.reset();
}

bool Thread::IsStarted() const { return handle_ != nullptr; }

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
