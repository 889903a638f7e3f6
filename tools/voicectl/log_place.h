// Where voicectl keeps the library's two logs. The library writes
// "../SendVoiceMsg.log" and "../RecvVoiceMsg.log" relative to the working
// directory, so a command runs from a folder of its own inside the log
// directory, which is removed again afterwards.
#ifndef VOICECTL_LOG_PLACE_H_
#define VOICECTL_LOG_PLACE_H_

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace voicectl {

// $XDG_STATE_HOME/voicectl, or ~/.local/state/voicectl when that variable
// is unset or not an absolute path. Empty when there is no home either.
std::filesystem::path DefaultLogDir();

class LogPlace {
 public:
  LogPlace() = default;
  // Leaves the working folder, removes it and every directory Enter
  // created that is still empty.
  ~LogPlace();
  LogPlace(const LogPlace&) = delete;
  LogPlace& operator=(const LogPlace&) = delete;

  // Creates `dir` as needed and makes a working folder inside it the
  // current directory. False with a message when that fails.
  bool Enter(const std::filesystem::path& dir, std::string* error);

 private:
  std::filesystem::path previous_;                // the working directory before
  std::filesystem::path work_;                    // the folder commands run from
  std::vector<std::filesystem::path> created_;    // outermost first
};

// Prints both log records found in `dir`, the UTF-16LE marker decoded.
void ShowLogs(const std::filesystem::path& dir, std::ostream& out);

}  // namespace voicectl

#endif  // VOICECTL_LOG_PLACE_H_
