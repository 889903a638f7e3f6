// Threads and mutexes on Windows. Threads start through the C runtime
// (_beginthreadex) so that its per-thread state is set up, and keep their
// handle so they can be waited for.
#include <process.h>
#include <windows.h>

#include <utility>

#include "platform/thread.h"

namespace voicecontrol {
namespace platform {

struct Thread::Handle {
  HANDLE thread = nullptr;
  unsigned id = 0;
};

namespace {

unsigned __stdcall RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
  if (handle_) return false;
  auto boxed = std::make_unique<std::function<void()>>(std::move(body));
  auto handle = std::make_unique<Handle>();
  const uintptr_t started = ::_beginthreadex(nullptr, 0, RunBody, boxed.get(), 0, &handle->id);
  if (started == 0) return false;
  boxed.release();  // the thread owns it now
  handle->thread = reinterpret_cast<HANDLE>(started);
  handle_ = std::move(handle);
  return true;
}

void Thread::Join() {
  if (!handle_) return;
  if (handle_->id != ::GetCurrentThreadId()) {
    ::WaitForSingleObject(handle_->thread, INFINITE);
  }
  ::CloseHandle(handle_->thread);  // on the thread itself this detaches
  handle_.reset();
}

bool Thread::IsStarted() const { return handle_ != nullptr; }

struct Mutex::Impl {
  CRITICAL_SECTION section;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) { ::InitializeCriticalSection(&impl_->section); }

Mutex::~Mutex() { ::DeleteCriticalSection(&impl_->section); }

void Mutex::Lock() { ::EnterCriticalSection(&impl_->section); }

void Mutex::Unlock() { ::LeaveCriticalSection(&impl_->section); }

struct ConditionVariable::Impl {
  CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
};

ConditionVariable::ConditionVariable() : impl_(std::make_unique<Impl>()) {}

ConditionVariable::~ConditionVariable() = default;  // nothing to release

void ConditionVariable::Wait(Mutex* mutex) {
  ::SleepConditionVariableCS(&impl_->condition, &mutex->impl_->section, INFINITE);
}

bool ConditionVariable::WaitFor(Mutex* mutex, int64_t timeoutMs) {
  // INFINITE is 0xFFFFFFFF: stay one below it.
  const DWORD limit = timeoutMs <= 0              ? 0
                      : timeoutMs >= 0xFFFFFFFELL ? 0xFFFFFFFEUL
                                                  : static_cast<DWORD>(timeoutMs);
  return ::SleepConditionVariableCS(&impl_->condition, &mutex->impl_->section, limit) != 0;
}

void ConditionVariable::Signal() { ::WakeConditionVariable(&impl_->condition); }

void ConditionVariable::Broadcast() { ::WakeAllConditionVariable(&impl_->condition); }

}  // namespace platform
}  // namespace voicecontrol
