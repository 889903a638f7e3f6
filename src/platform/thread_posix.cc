// Threads and mutexes on POSIX systems.
#include <pthread.h>

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

}  // namespace platform
}  // namespace voicecontrol
