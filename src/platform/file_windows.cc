// Output files on Windows: opened without sharing, so nobody else can open
// the file while a record is being written.
#include <windows.h>

#include "platform/file.h"

namespace voicecontrol {
namespace platform {

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Create(const char* path) {
  Close();
  if (path == nullptr) return false;
  const HANDLE file =
      ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool OutputFile::Write(const void* data, size_t length) {
  if (!IsOpen()) return false;
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), bytes, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes += written;
    length -= written;
  }
  return true;
}

void OutputFile::Close() {
  if (!IsOpen()) return;
  ::CloseHandle(AsHandle(handle_));
  handle_ = kInvalid;
}

}  // namespace platform
}  // namespace voicecontrol
