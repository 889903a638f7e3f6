// Where voicectl keeps the library's two logs, and the clean-up that
// leaves nothing behind of its own: no directory it created and left
// empty, no private temporary directory.
#ifndef VOICECTL_LOG_PLACE_H_
#define VOICECTL_LOG_PLACE_H_

#include <filesystem>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace voicectl {

// $XDG_STATE_HOME/voicectl, or ~/.local/state/voicectl when that variable
// is unset or not an absolute path. Empty when there is no home either.
std::filesystem::path DefaultLogDir();

// The directory that receives the logs of this process (through
// voicecontrol::SetLogDirectory, which the caller makes), and what to
// remove again. Clean() may run on another thread than the one that set
// the place up (the one that handles a stop signal).
class LogPlace {
 public:
  LogPlace() = default;
  ~LogPlace() { Clean(); }
  LogPlace(const LogPlace&) = delete;
  LogPlace& operator=(const LogPlace&) = delete;

  // `dir`, created as needed; the levels it creates go again if they stay
  // empty. Sweeps the working folders that voicectl processes before this
  // version left in it when they were killed. False with a message when
  // the directory cannot be made.
  bool UseDirectory(const std::filesystem::path& dir, std::string* error);
  // A new directory of this process's own in the system's temporary
  // directory, named voicectl-PID.XXXXXX, removed with the logs in it at
  // the end. Sweeps those of processes that no longer run.
  bool UsePrivateDirectory(std::string* error);

  // The absolute directory; empty before a Use call succeeded.
  std::filesystem::path dir() const;
  // Removes what this place made: the private directory with the logs, or
  // the created levels that are still empty. Runs once; later calls do
  // nothing. The caller stops the library's logging first.
  void Clean();

 private:
  mutable std::mutex mutex_;
  std::filesystem::path dir_;
  bool private_ = false;
  std::vector<std::filesystem::path> created_;  // outermost first
  bool cleaned_ = false;
};

// One log file as it was at some moment, to tell whether a command wrote
// it since.
struct LogRecord {
  bool exists = false;
  std::filesystem::file_time_type written;
  std::string bytes;
};

// Both log files of `dir`: SendVoiceMsg.log, RecvVoiceMsg.log.
struct LogRecords {
  LogRecord send, receive;
};
LogRecords ReadLogs(const std::filesystem::path& dir);

// Prints each log record of `dir` that differs from `before` (this
// command's), the UTF-16LE marker decoded; a record the command did not
// write is named, not shown.
void ShowLogs(const std::filesystem::path& dir, const LogRecords& before, std::ostream& out);

}  // namespace voicectl

#endif  // VOICECTL_LOG_PLACE_H_
