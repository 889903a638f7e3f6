// A file written in one go: created or emptied, write-only, not shared
// with other openers while it is open (where the system enforces that).
#ifndef VOICECONTROL_PLATFORM_FILE_H_
#define VOICECONTROL_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>

#include "internal_export.h"

namespace voicecontrol {
namespace platform {

// True when `utf8Path` names an existing directory (or a link to one).
VC_INTERNAL_API bool IsDirectory(const char* utf8Path);

// Paths are UTF-8 on every platform.
class VC_INTERNAL_API OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates `path`, or replaces its content when it exists: once closed,
  // the file holds exactly the bytes written since. False on failure.
  bool Create(const char* path);

  // Writes all `length` bytes. False on failure or when not open.
  bool Write(const void* data, size_t length);

  void Close();
  bool IsOpen() const { return handle_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
  uint64_t written_ = 0;
  uint64_t earlierSize_ = 0;  // size found on opening, where the system keeps it
};

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_FILE_H_
