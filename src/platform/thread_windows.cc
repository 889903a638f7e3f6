// Threads and mutexes on Windows. Threads start through the C runtime
// (_beginthreadex) so that its per-thread state is set up, and keep their
// handle so they can be waited for. What Thread does the same way on every
// system is in thread.cc.
#include <process.h>
#include <windows.h>

#include "platform/thread.h"
#include "platform/thread_system.h"

namespace voicecontrol {
namespace platform {

namespace {

unsigned __stdcall ThreadEntry(void* boxedBody) {
  RunThreadBody(boxedBody);
  return 0;
}

}  // namespace

bool StartSystemThread(void* boxedBody, SystemThread* thread) {
  const uintptr_t started = ::_beginthreadex(nullptr, 0, ThreadEntry, boxedBody, 0, &thread->id);
  if (started == 0) return false;
  thread->handle = reinterpret_cast<HANDLE>(started);
  return true;
}

void EndSystemThread(SystemThread* thread) {
  if (thread->id != ::GetCurrentThreadId()) {
    ::WaitForSingleObject(thread->handle, INFINITE);
  }
  ::CloseHandle(thread->handle);  // on the thread itself this detaches
}

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
