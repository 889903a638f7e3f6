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

/// Wide text to UTF-8.
/// @param text the wide text, up to its terminator.
/// @param out receives the UTF-8 bytes, without a terminator.
/// @param outSize the capacity of `out` in bytes.
/// @return the number of bytes written, or -1.
VC_API int WideToUtf8(const wchar_t* text, char* out, int outSize);
/// Text in the ANSI code page (the one `SetCodePage` chose) to wide text.
/// @param text the narrow text, up to its terminator.
/// @param out receives the wide text, without a terminator.
/// @param outCount the capacity of `out` in wide units.
/// @return the number of wide units written, or -1.
VC_API int AnsiToWide(const char* text, wchar_t* out, int outCount);
/// UTF-8 to wide text.
/// @param text the UTF-8 bytes.
/// @param length their number; a negative length means up to the terminator.
/// @param out receives the wide text, without a terminator.
/// @param outCount the capacity of `out` in wide units.
/// @return the number of wide units written, or -1.
VC_API int Utf8ToWide(const char* text, int length, wchar_t* out, int outCount);
/// Wide text to the ANSI code page.
/// @param text the wide text, up to its terminator.
/// @param out receives the narrow text, without a terminator.
/// @param outSize the capacity of `out` in bytes.
/// @return the number of bytes written, or -1.
VC_API int WideToAnsi(const wchar_t* text, char* out, int outSize);
/// ANSI text to UTF-8, through an intermediate of 2,000 wide units (1,999
/// characters and its terminator); longer texts give -1.
/// @param text the narrow text, up to its terminator.
/// @param out receives the UTF-8 bytes, without a terminator.
/// @param outSize the capacity of `out` in bytes.
/// @return the number of bytes written, or -1.
VC_API int AnsiToUtf8(const char* text, char* out, int outSize);
/// UTF-8 to ANSI text, through an intermediate of 2,000 wide units; longer
/// texts give -1.
/// @param text the UTF-8 bytes.
/// @param length their number; a negative length means up to the terminator.
/// @param out receives the narrow text, without a terminator.
/// @param outSize the capacity of `out` in bytes.
/// @return the number of bytes written, or -1.
VC_API int Utf8ToAnsi(const char* text, int length, char* out, int outSize);

}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_CONVERT_H_
