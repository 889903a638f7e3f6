// Files replaced whole on POSIX systems.
//
// The new content goes to a temporary file beside the old one (a rename
// does not cross file systems), which then takes its name. Rewriting the
// file in place, as earlier versions did, let a reader see the new record
// followed by the tail of an older, longer one until the file was cut.
//
// On Linux the temporary file and an existing log trade names in one step
// (renameat2 with RENAME_EXCHANGE), and the old content is then unlinked
// under the temporary name. A plain rename over the file would do as well
// for a reader, but ext4 (with auto_da_alloc, its default) starts writing
// a file's data to disk when it is renamed over another, so that a crash
// cannot leave an empty file: the record then waits for the disk, 0.2 to
// 1.8 ms on the build machine against 35 to 90 us for the exchange and the
// unlink, which touch no disk (the pages of a file unlinked before they
// were written back are simply dropped), and 8 to 20 us for the in-place
// rewrite (bench/platform/log_bench.cc). A log of the last request needs
// no guarantee after a crash, and the rewrite in place never had one.
// Where the exchange is not possible (no file yet, a file system or kernel
// without it) a plain rename does the job. Each record costs five system
// calls (open, write, close, exchange, unlink): the process id in the
// temporary name is read once, not per record.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/file.h"

namespace voicecontrol {
namespace platform {

namespace {

void AppendNumber(std::string* out, unsigned long value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) out->push_back(digits[--count]);
}

// A hidden name beside `path` that no other process and no other file
// uses: the file's own name, the process id and a number counted up in
// the process. Creating it exclusively settles the rare clash: with a file
// left by a process that ended before it could rename it, or with a child
// forked from this process, which goes on with its parent's id and count.
std::string TemporaryPath(const char* path) {
  static std::atomic<unsigned long> counter{0};
  static const unsigned long processId = static_cast<unsigned long>(::getpid());
  const char* const slash = std::strrchr(path, '/');
  const size_t nameStart = slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
  // Built in one piece: every record pays for it.
  std::string temporary;
  temporary.reserve(std::strlen(path) + 48);
  temporary.append(path, nameStart).append(1, '.').append(path + nameStart).append(1, '.');
  AppendNumber(&temporary, processId);
  temporary += '-';
  AppendNumber(&temporary, counter++);
  temporary += ".tmp";
  return temporary;
}

// Writes every range of `parts`, in as few calls as the system allows.
bool WriteAll(int fd, const ByteRange* parts, size_t count) {
  constexpr size_t kBatch = 8;
  while (count > 0) {
    iovec vectors[kBatch];
    size_t used = 0;
    for (; used < kBatch && used < count; ++used) {
      vectors[used].iov_base = const_cast<void*>(parts[used].data);
      vectors[used].iov_len = parts[used].size;
    }
    parts += used;
    count -= used;
    iovec* next = vectors;
    while (used > 0) {
      const ssize_t written = ::writev(fd, next, static_cast<int>(used));
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) return false;
      // Skip what went out; a short write continues inside a range.
      size_t done = static_cast<size_t>(written);
      while (used > 0 && done >= next->iov_len) {
        done -= next->iov_len;
        ++next;
        --used;
      }
      if (used > 0) {
        if (written == 0 && done == 0) return false;  // no progress
        next->iov_base = static_cast<char*>(next->iov_base) + done;
        next->iov_len -= done;
      }
    }
  }
  return true;
}

// Puts the file at `temporary` in the place of the one at `path`; the
// temporary name is gone afterwards when this succeeds.
bool TakePlace(const char* temporary, const char* path) {
#ifdef RENAME_EXCHANGE
  // Fails without a file at `path` yet; then the rename below.
  if (::renameat2(AT_FDCWD, temporary, AT_FDCWD, path, RENAME_EXCHANGE) == 0) {
    if (::unlink(temporary) == 0) return true;
    // What had the name cannot be unlinked (a directory): give it back its
    // name rather than leave it under a temporary one.
    if (::renameat2(AT_FDCWD, temporary, AT_FDCWD, path, RENAME_EXCHANGE) != 0) return false;
  }
#endif
  return ::rename(temporary, path) == 0;
}

}  // namespace

bool IsDirectory(const char* utf8Path) {
  struct stat status;
  return utf8Path != nullptr && ::stat(utf8Path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool ReplaceWholeFile(const char* utf8Path, const ByteRange* parts, size_t count) {
  if (utf8Path == nullptr || *utf8Path == '\0') return false;
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
    temporary = TemporaryPath(utf8Path);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool done = WriteAll(fd, parts, count);
  // close() reports late write errors on some file systems (NFS).
  done = ::close(fd) == 0 && done;
  if (done && TakePlace(temporary.c_str(), utf8Path)) return true;
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace platform
}  // namespace voicecontrol
