// Output files on POSIX systems. POSIX has no share modes; the file is
// simply opened write-only.
//
// An existing file is not truncated on opening but cut to the written
// length on closing: ext4 flushes a file to disk when it is closed after
// having been truncated to zero and rewritten, which costs a millisecond or
// more per record, while the final content is the same either way.
#include <errno.h>
#include <stdint.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"

namespace voicecontrol {
namespace platform {

bool IsDirectory(const char* utf8Path) {
  struct stat status;
  return utf8Path != nullptr && ::stat(utf8Path, &status) == 0 && S_ISDIR(status.st_mode);
}

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Create(const char* path) {
  Close();
  if (path == nullptr) return false;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  handle_ = fd;
  written_ = 0;
  // Unknown size: Close() then cuts the file whatever its length.
  struct stat status;
  earlierSize_ = ::fstat(fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : UINT64_MAX;
  return true;
}

bool OutputFile::Write(const void* data, size_t length) {
  if (!IsOpen()) return false;
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<size_t>(written);
    written_ += static_cast<uint64_t>(written);
  }
  return true;
}

void OutputFile::Close() {
  if (!IsOpen()) return;
  // Drops what is left of an earlier, longer content. A content no longer
  // than what was written has been overwritten whole, and cutting costs a
  // few microseconds that every record would pay.
  if (earlierSize_ > written_) {
    const int cut = ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(written_));
    static_cast<void>(cut);  // the file stays usable either way
  }
  ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
}

}  // namespace platform
}  // namespace voicecontrol
