#include "controller/logs.h"

#include <cstring>
#include <string>

#include <voicecontrol/controller/VoiceController.h>
#include "platform/file.h"
#include "platform/thread.h"

namespace voicecontrol {

namespace {

// The default place: the parent of the working directory, found anew for
// every record, as the file names have always been given.
constexpr char kDefaultDirectory[] = "..";

struct LogFile {
  LogFile(const char* name, const char16_t* marker) : name(name), marker(marker) {
    path = std::string(kDefaultDirectory) + "/" + name;
  }

  const char* const name;
  const char16_t* const marker;
  // Held while a record is written or the path changes. Each file has its
  // own, so that a request being logged never waits for an answer being
  // logged.
  platform::Mutex mutex;
  std::string path;  // guarded by mutex; empty while logging is off
};

LogFile& SendLog() {
  static LogFile file("SendVoiceMsg.log", u"---> \r\n");
  return file;
}

LogFile& ReceiveLog() {
  static LogFile file("RecvVoiceMsg.log", u"<--- \r\n");
  return file;
}

// Keeps two settings apart: a host changing the place from two threads at
// once gets both files in one of the places, never one in each.
platform::Mutex& SettingsMutex() {
  static platform::Mutex mutex;
  return mutex;
}

void SetPath(LogFile& file, const std::string& path) {
  platform::MutexLock lock(&file.mutex);
  file.path = path;
}

// `directory` (non-empty, or null for off) joined with each file's name.
void PlaceLogs(const char* directory) {
  platform::MutexLock settings(&SettingsMutex());
  for (LogFile* file : {&SendLog(), &ReceiveLog()}) {
    std::string path;
    if (directory != nullptr) {
      path = directory;
      const char last = path.back();
      if (last != '/' && last != '\\') path += '/';
      path += file->name;
    }
    SetPath(*file, path);
  }
}

void WriteRecord(LogFile& file, const char* message, size_t length) {
  char marker[32];
  size_t markerLength = 0;
  for (const char16_t* unit = file.marker; *unit != 0; ++unit) {
    marker[markerLength++] = static_cast<char>(*unit & 0xFF);
    marker[markerLength++] = static_cast<char>(*unit >> 8);
  }
  const void* const zero = message != nullptr ? std::memchr(message, '\0', length) : nullptr;
  const size_t messageLength =
      message == nullptr ? 0
      : zero != nullptr  ? static_cast<size_t>(static_cast<const char*>(zero) - message)
                         : length;
  const platform::ByteRange record[] = {{marker, markerLength}, {message, messageLength}};
  platform::MutexLock lock(&file.mutex);
  if (file.path.empty()) return;  // logging is off
  // The file is replaced whole, so that a reader finds one record, the
  // previous or this one. A failure leaves the previous record in place.
  platform::ReplaceWholeFile(file.path.c_str(), record, 2);
}

}  // namespace

bool SetLogDirectory(const char* utf8Dir) {
  if (utf8Dir == nullptr || *utf8Dir == '\0') {
    PlaceLogs(kDefaultDirectory);
    return true;
  }
  if (!platform::IsDirectory(utf8Dir)) return false;
  PlaceLogs(utf8Dir);
  return true;
}

void DisableLogs() { PlaceLogs(nullptr); }

namespace internal {

void LogRequest(const char* message, size_t length) { WriteRecord(SendLog(), message, length); }

void LogAnswer(const char* message, size_t length) { WriteRecord(ReceiveLog(), message, length); }

}  // namespace internal
}  // namespace voicecontrol
