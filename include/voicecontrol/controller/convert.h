/// @file
/// Text conversions between wide text and the narrow encodings UTF-8 and
/// the system's ANSI code page, on caller-supplied buffers.
///
/// Each reads its input up to its terminator (or the given length), writes
/// into `out` at most the given capacity (bytes or wide units), and writes
/// no terminator: callers clear their buffers first. The result is the
/// number of units written, or -1 when the result does not fit (then
/// nothing is written) or an argument is unusable. Undecodable input
/// becomes U+FFFD, as the Windows conversions do.
#ifndef VOICECONTROL_CONTROLLER_CONVERT_H_
#define VOICECONTROL_CONTROLLER_CONVERT_H_

#include <voicecontrol/export.h>

namespace voicecontrol {

VC_API int WideToUtf8(const wchar_t* text, char* out, int outSize);
VC_API int AnsiToWide(const char* text, wchar_t* out, int outCount);
/// A negative length means: up to the terminator.
VC_API int Utf8ToWide(const char* text, int length, wchar_t* out, int outCount);
VC_API int WideToAnsi(const wchar_t* text, char* out, int outSize);
/// Through an intermediate of 2,000 wide units (1,999 characters and its
/// terminator); longer texts give -1.
VC_API int AnsiToUtf8(const char* text, char* out, int outSize);
VC_API int Utf8ToAnsi(const char* text, int length, char* out, int outSize);

}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_CONVERT_H_
