// Output files on Windows: opened without sharing, so nobody else can open
// the file while a record is being written.
#include <windows.h>

#include <string>

#include "platform/file.h"

namespace voicecontrol {
namespace platform {

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// A UTF-8 path as Windows takes it; empty when it is not valid UTF-8.
std::wstring WidePath(const char* utf8Path) {
  const int units =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Path, -1, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Path, -1, &wide[0], units);
  wide.resize(static_cast<size_t>(units) - 1);  // without the terminator
  return wide;
}

}  // namespace

bool IsDirectory(const char* utf8Path) {
  if (utf8Path == nullptr) return false;
  const std::wstring wide = WidePath(utf8Path);
  if (wide.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Create(const char* path) {
  Close();
  if (path == nullptr) return false;
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
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
