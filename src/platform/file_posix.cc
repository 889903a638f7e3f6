// Output files on POSIX systems. POSIX has no share modes; the file is
// simply opened write-only.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/file.h"

namespace voicecontrol {
namespace platform {

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Create(const char* path) {
  Close();
  if (path == nullptr) return false;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  handle_ = fd;
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
  }
  return true;
}

void OutputFile::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
}

}  // namespace platform
}  // namespace voicecontrol
