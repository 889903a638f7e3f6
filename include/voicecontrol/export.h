/// @file
/// Symbol visibility of the library's public classes and functions.
///
/// On Windows the library is a DLL: its own sources export, hosts import.
/// Elsewhere the library is built with hidden visibility, and the macro
/// makes the symbols of its interface visible.
#ifndef VOICECONTROL_EXPORT_H_
#define VOICECONTROL_EXPORT_H_

#if defined(VOICECONTROL_DOXYGEN)
/// Marks a class or function of the library's interface: exported from the
/// library (`__declspec(dllexport)` while building the DLL,
/// `__declspec(dllimport)` in a Windows host, default visibility elsewhere).
#define VC_API
#elif defined(_WIN32)
#if defined(VC_BUILDING_LIBRARY)
#define VC_API __declspec(dllexport)
#else
#define VC_API __declspec(dllimport)
#endif
#else
#define VC_API __attribute__((visibility("default")))
#endif

#endif  // VOICECONTROL_EXPORT_H_
