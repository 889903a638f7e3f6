// Visibility of the library's internal classes and functions.
//
// The shared library exports only its interface: what the installed
// headers under include/voicecontrol/ mark VC_API. A few internals (the
// platform layer, the code-page functions, the DOM text helpers ...) are
// also reached by this tree's own white-box tests, benchmarks and fuzz
// targets, which link the shared library like a host does. They are marked
// VC_INTERNAL_API instead: exported only from a build that compiles those
// programs (VC_EXPORT_INTERNALS, set by CMake), hidden in every other build,
// the release packages among them. None of them is part of the interface,
// and this header is not installed.
#ifndef VOICECONTROL_INTERNAL_EXPORT_H_
#define VOICECONTROL_INTERNAL_EXPORT_H_

#include <voicecontrol/export.h>

#if defined(VC_EXPORT_INTERNALS)
#define VC_INTERNAL_API VC_API
#else
#define VC_INTERNAL_API
#endif

#endif  // VOICECONTROL_INTERNAL_EXPORT_H_
