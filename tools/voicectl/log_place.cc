#include "log_place.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>

namespace voicectl {

namespace fs = std::filesystem;

namespace {

// One log record: a 7-character UTF-16LE marker, then the message bytes.
void ShowLog(const fs::path& path, std::ostream& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    out << "(no " << path.string() << ")\n";
    return;
  }
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string marker;
  size_t i = 0;
  for (; i + 1 < bytes.size() && i < 14; i += 2) marker += bytes[i];
  out << "== " << path.string() << "\n" << marker << bytes.substr(i) << "\n";
}

}  // namespace

fs::path DefaultLogDir() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && fs::path(state).is_absolute()) return fs::path(state) / "voicectl";
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  return fs::path(home) / ".local" / "state" / "voicectl";
}

bool LogPlace::Enter(const fs::path& dir, std::string* error) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(dir, ec).lexically_normal();
  // Remember which levels are new, so that they go again if nothing is
  // written into them.
  for (fs::path level = absolute; !level.empty() && !fs::exists(level, ec);
       level = level.parent_path()) {
    created_.insert(created_.begin(), level);
    if (level == level.parent_path()) break;
  }
  work_ = absolute / (".voicectl-" + std::to_string(getpid()));
  previous_ = fs::current_path(ec);
  fs::create_directories(work_, ec);
  if (!ec) fs::current_path(work_, ec);
  if (ec) {
    *error = "cannot use log directory " + absolute.string() + ": " + ec.message();
    return false;
  }
  return true;
}

LogPlace::~LogPlace() {
  std::error_code ec;
  if (!previous_.empty()) fs::current_path(previous_, ec);
  if (!work_.empty()) fs::remove(work_, ec);
  // fs::remove leaves a directory that is not empty alone.
  for (auto level = created_.rbegin(); level != created_.rend(); ++level) fs::remove(*level, ec);
}

void ShowLogs(const fs::path& dir, std::ostream& out) {
  ShowLog(dir / "SendVoiceMsg.log", out);
  ShowLog(dir / "RecvVoiceMsg.log", out);
}

}  // namespace voicectl
