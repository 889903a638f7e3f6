// What a Thread asks of the system, beneath what it does the same way on
// every system (thread.cc: who owns the body, when a Thread counts as
// started or waited for). thread_posix.cc and thread_windows.cc each define
// the functions below for their system; only those three files include
// this.
#ifndef VOICECONTROL_PLATFORM_THREAD_SYSTEM_H_
#define VOICECONTROL_PLATFORM_THREAD_SYSTEM_H_

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace voicecontrol {
namespace platform {

// A started thread as the system names it.
#if defined(_WIN32)
struct SystemThread {
  HANDLE handle = nullptr;  // from _beginthreadex, closed by EndSystemThread
  unsigned id = 0;
};
#else
struct SystemThread {
  pthread_t id;
};
#endif

// What a new thread runs first: the body that `boxedBody` (a heap
// std::function<void()>, owned by the thread from then on) holds, freed
// after it returns. Defined in thread.cc.
void RunThreadBody(void* boxedBody);

// Starts a thread with the default stack size that calls
// RunThreadBody(boxedBody), and names it in `thread`. False when the system
// cannot start one; `boxedBody` then still belongs to the caller.
bool StartSystemThread(void* boxedBody, SystemThread* thread);

// Waits for `thread` to end, or detaches it when called on that thread
// itself; either way the system's hold on it is released.
void EndSystemThread(SystemThread* thread);

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_THREAD_SYSTEM_H_
