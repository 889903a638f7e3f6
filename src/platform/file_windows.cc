// Files replaced whole on Windows: the content goes to a temporary file
// beside the old one, opened without sharing while it is written, and
// MoveFileExW with MOVEFILE_REPLACE_EXISTING gives it the file's name in
// one step (a rename within the volume; Wine makes it a rename(2)).
//
// Two things a reader meets, neither of them a partial record. The move
// fails while another program holds the file open without
// FILE_SHARE_DELETE, as most readers open it (under Wine while anyone holds
// it open at all): that record is dropped, as it was when the file itself
// was rewritten without sharing. And the move holds the new file open for
// deletion for a moment, so a reader opening it just then is refused with a
// sharing violation and has to try again, as it was for the whole write
// before.
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/file.h"

namespace voicecontrol {
namespace platform {

namespace {

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

// A name beside `path` that no other process and no other file uses: the file's own name, the process id and a number counted up in the
// process. Creating it exclusively (CREATE_NEW) settles the rare clash with
// a file left by a process that ended before it could move it.
std::wstring TemporaryPath(const std::wstring& path) {
  static std::atomic<unsigned long> counter{0};
  const size_t slash = path.find_last_of(L"\\/");
  const size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
  return path.substr(0, nameStart) + L"." + path.substr(nameStart) + L"." +
         std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) + L".tmp";
}

bool WriteAll(HANDLE file, ByteRange part) {
  const char* bytes = static_cast<const char*>(part.data);
  size_t length = part.size;
  while (length > 0) {
    const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

}  // namespace

bool IsDirectory(const char* utf8Path) {
  if (utf8Path == nullptr) return false;
  const std::wstring wide = WidePath(utf8Path);
  if (wide.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReplaceWholeFile(const char* utf8Path, const ByteRange* parts, size_t count) {
  if (utf8Path == nullptr || *utf8Path == '\0') return false;
  const std::wstring path = WidePath(utf8Path);
  if (path.empty()) return false;
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 4 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = TemporaryPath(path);
    file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  bool done = true;
  for (size_t i = 0; done && i < count; ++i) done = WriteAll(file, parts[i]);
  done = ::CloseHandle(file) && done;
  if (done && ::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  ::DeleteFileW(temporary.c_str());
  return false;
}

}  // namespace platform
}  // namespace voicecontrol
