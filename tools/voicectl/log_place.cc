#include "log_place.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>

namespace voicectl {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLogNames[] = {"SendVoiceMsg.log", "RecvVoiceMsg.log"};

// What the sweeps of left-behind directories ask of the system: this
// process's id, whether another process has gone, whether a directory is
// this user's own, and a new directory nobody else can have taken.
#ifdef _WIN32
using pid_t = DWORD;

pid_t getpid() { return GetCurrentProcessId(); }

// A process that cannot be opened for other reasons (another user's) is
// taken to run.
bool IsGone(pid_t pid) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD status = 0;
  const bool ended = GetExitCodeProcess(process, &status) && status != STILL_ACTIVE;
  CloseHandle(process);
  return ended;
}

// The temporary directory is the user's own on Windows (under the
// profile): a directory that is no link (junction) is taken as theirs.
bool IsOwnDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(path, ec)) && !ec;
}

// `pattern` ends in XXXXXX, replaced by random letters until a new
// directory of that name can be made, as mkdtemp does.
char* mkdtemp(char* pattern) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 draw(seed());
  const size_t length = std::strlen(pattern);
  if (length < 6) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = length - 6; i < length; ++i) pattern[i] = kLetters[draw() % 36];
    if (CreateDirectoryA(pattern, nullptr)) return pattern;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  errno = EEXIST;
  return nullptr;
}
#else
bool IsGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

// A directory of this user's own, not a link to one.
bool IsOwnDirectory(const fs::path& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}
#endif

// The process id in `name` after `prefix`, up to `end` (or the name's end).
std::optional<pid_t> PidIn(const std::string& name, const std::string& prefix, char end) {
  if (name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  long long pid = 0;
  size_t i = prefix.size();
  for (; i < name.size() && name[i] != end; ++i) {
    if (name[i] < '0' || name[i] > '9' || pid > INT_MAX / 10) return std::nullopt;
    pid = pid * 10 + (name[i] - '0');
  }
  if (i == prefix.size() || pid <= 0 || pid > INT_MAX) return std::nullopt;
  if (end != '\0' && i == name.size()) return std::nullopt;
  return static_cast<pid_t>(pid);
}

// Removes the two logs in `dir`, then `dir` if that left it empty.
void RemoveLogsAndDirectory(const fs::path& dir) {
  std::error_code ec;
  for (const char* name : kLogNames) fs::remove(dir / name, ec);
  fs::remove(dir, ec);  // leaves a directory holding anything else alone
}

// Every directory in `parent` named by `matches` whose process has gone.
template <typename Matches>
std::vector<fs::path> LeftBehind(const fs::path& parent, Matches matches) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    const std::optional<pid_t> pid = matches(it->path().filename().string());
    if (pid && *pid != getpid() && IsGone(*pid) && IsOwnDirectory(it->path())) {
      found.push_back(it->path());
    }
  }
  return found;
}

LogRecord ReadLog(const fs::path& path) {
  LogRecord record;
  std::error_code ec;
  record.written = fs::last_write_time(path, ec);
  std::ifstream file(path, std::ios::binary);
  if (ec || !file) return record;
  record.exists = true;
  record.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return record;
}

// One log record: a 7-character UTF-16LE marker, then the message bytes.
void ShowLog(const fs::path& path, const LogRecord& before, const LogRecord& now,
             std::ostream& out) {
  const bool written = now.exists && (!before.exists || now.written != before.written ||
                                      now.bytes != before.bytes);
  if (!written) {
    out << "== " << path.string() << ": not written by this command"
        << (now.exists ? " (it holds an earlier record, not shown)" : "") << "\n";
    return;
  }
  std::string marker;
  size_t i = 0;
  for (; i + 1 < now.bytes.size() && i < 14; i += 2) marker += now.bytes[i];
  out << "== " << path.string() << "\n" << marker << now.bytes.substr(i) << "\n";
}

}  // namespace

fs::path DefaultLogDir() {
#ifdef _WIN32
  // The user's local application data, as Windows programs keep state.
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (local != nullptr && fs::path(local).is_absolute()) return fs::path(local) / "voicectl";
  return {};
#else
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && fs::path(state).is_absolute()) return fs::path(state) / "voicectl";
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  return fs::path(home) / ".local" / "state" / "voicectl";
#endif
}

bool LogPlace::UseDirectory(const fs::path& dir, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::error_code ec;
  const fs::path absolute = fs::absolute(dir, ec).lexically_normal();
  // Remember which levels are new, so that they go again if nothing is
  // written into them.
  std::vector<fs::path> created;
  for (fs::path level = absolute; !level.empty() && !fs::exists(level, ec);
       level = level.parent_path()) {
    created.insert(created.begin(), level);
    if (level == level.parent_path()) break;
  }
  fs::create_directories(absolute, ec);
  if (ec || !fs::is_directory(absolute)) {
    *error = "cannot use log directory " + absolute.string() + ": " +
             (ec ? ec.message() : std::string("not a directory"));
    return false;
  }
  dir_ = absolute;
  created_ = created;
  // Earlier versions ran each command in a folder .voicectl-PID of the log
  // directory; a killed one left its folder behind.
  const auto legacy = [](const std::string& name) { return PidIn(name, ".voicectl-", '\0'); };
  for (const fs::path& folder : LeftBehind(absolute, legacy)) fs::remove(folder, ec);
  return true;
}

bool LogPlace::UsePrivateDirectory(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (ec) {
    *error = "no temporary directory: " + ec.message();
    return false;
  }
  const auto ours = [](const std::string& name) { return PidIn(name, "voicectl-", '.'); };
  for (const fs::path& dir : LeftBehind(temp, ours)) RemoveLogsAndDirectory(dir);
  std::string pattern = (temp / ("voicectl-" + std::to_string(getpid()) + ".XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = "cannot make a directory in " + temp.string() + ": " +
             std::generic_category().message(errno);
    return false;
  }
  dir_ = pattern;
  private_ = true;
  return true;
}

fs::path LogPlace::dir() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dir_;
}

void LogPlace::Clean() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cleaned_ || dir_.empty()) return;
  cleaned_ = true;
  if (private_) {
    RemoveLogsAndDirectory(dir_);
    return;
  }
  std::error_code ec;
  // fs::remove leaves a directory that is not empty alone.
  for (auto level = created_.rbegin(); level != created_.rend(); ++level) fs::remove(*level, ec);
}

LogRecords ReadLogs(const fs::path& dir) {
  return {ReadLog(dir / kLogNames[0]), ReadLog(dir / kLogNames[1])};
}

void ShowLogs(const fs::path& dir, const LogRecords& before, std::ostream& out) {
  const LogRecords now = ReadLogs(dir);
  ShowLog(dir / kLogNames[0], before.send, now.send, out);
  ShowLog(dir / kLogNames[1], before.receive, now.receive, out);
}

}  // namespace voicectl
