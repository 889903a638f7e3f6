// Catching everything without swallowing a thread's end.
//
// With glibc, pthread_exit and thread cancellation end a thread by
// unwinding its stack with a special exception. A `catch (...)` that does
// not rethrow it aborts the process ("FATAL: exception not rethrown"); a
// host callback may end its thread so. Every catch-all on a path that
// calls the host puts VC_RETHROW_FORCED_UNWIND before it, and its function
// is marked VC_CATCHES_FORCED_UNWIND:
//
//   VC_CATCHES_FORCED_UNWIND void Run() {
//     try { ... } VC_RETHROW_FORCED_UNWIND catch (...) { ... }
//   }
//
// The unwind carries no object, so the handler's reference is bound to
// null; that is how the runtime is made, and the sanitizer's check for it
// is turned off in such functions.
#ifndef VOICECONTROL_CONTROLLER_FORCED_UNWIND_H_
#define VOICECONTROL_CONTROLLER_FORCED_UNWIND_H_

#include <cstddef>  // defines __GLIBCXX__ with libstdc++

#if defined(__GLIBCXX__) && defined(__linux__)
#include <cxxabi.h>
#define VC_RETHROW_FORCED_UNWIND \
  catch (abi::__forced_unwind&) { throw; }
#define VC_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null")))
#else
#define VC_RETHROW_FORCED_UNWIND
#define VC_CATCHES_FORCED_UNWIND
#endif

#endif  // VOICECONTROL_CONTROLLER_FORCED_UNWIND_H_
