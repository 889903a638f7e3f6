// Files replaced whole: a reader opening the file at any moment finds
// either the content it had before or the new one, never a mixture of the
// two, never a part of either.
#ifndef VOICECONTROL_PLATFORM_FILE_H_
#define VOICECONTROL_PLATFORM_FILE_H_

#include <cstddef>

#include "internal_export.h"

namespace voicecontrol {
namespace platform {

// True when `utf8Path` names an existing directory (or a link to one).
VC_INTERNAL_API bool IsDirectory(const char* utf8Path);

// One piece of a file's new content.
struct ByteRange {
  const void* data;
  size_t size;
};

// Replaces the file `utf8Path` (UTF-8 on every platform) with the `count`
// ranges of `parts`, one after the other, creating it when it is missing.
//
// The content is written to a new file beside it, which then takes the
// file's name in one step. That temporary file has a name of its own
// (".NAME.PID-N.tmp"; hidden on POSIX systems), created exclusively, so that processes logging into one directory and two
// files of one directory never share it. It is removed again when anything
// fails: then the file is as it was, and the result is false. Threads and
// processes may replace one file at the same time: each writes a temporary
// file of its own, and the last rename wins.
VC_INTERNAL_API bool ReplaceWholeFile(const char* utf8Path, const ByteRange* parts,
                                      size_t count);

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_FILE_H_
