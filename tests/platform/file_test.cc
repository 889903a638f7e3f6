#include "platform/file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace voicecontrol {
namespace platform {
namespace {

namespace fs = std::filesystem;

// Windows refuses an opener that does not share deletion while the file
// is being moved into place (the move holds it open for that).
std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return errno == EACCES ? "<refused>" : "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// After `restrict`, in a child process that keeps the limits it sets (POSIX).
bool Replace(const fs::path& path, const std::vector<std::string>& parts,
             [[maybe_unused]] const std::function<void()>& restrict = nullptr) {
#ifndef _WIN32
  if (restrict) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit((restrict(), Replace(path, parts)) ? 0 : 1);
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && !WEXITSTATUS(status);
  }
#endif
  std::vector<ByteRange> ranges;
  for (const auto& part : parts) ranges.push_back({part.data(), part.size()});
  return ReplaceWholeFile(path.u8string().c_str(), ranges.data(), ranges.size());
}

// A directory of its own (test processes run side by side) and the names
// under it at any depth, where a temporary file left behind would show.
fs::path FreshDirectory() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path dir = fs::path(::testing::TempDir()) / ("vc_file_" + std::to_string(now));
  fs::create_directories(dir / "d/g/h");
  return dir;
}
std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    names.insert(fs::relative(entry.path(), dir).generic_u8string());
  }
  return names;
}

// Each case starts from "d/f" holding "earlier"; a failure leaves it so,
// and no temporary file anywhere. (A log directory that vanished is one
// that is missing.)
TEST(ReplaceWholeFileTest, TheFileHoldsTheNewContentOrStaysAsItWas) {
  const fs::path dir = FreshDirectory();
  const std::string zeros("a\0b", 3), big(70000, 'z');
  // clang-format off
  const struct {
    const char* name;
    const char* file;
    std::vector<std::string> parts;
    std::string expected;  // in "d/f" afterwards; "earlier" when the call fails
    std::function<void()> restrict = nullptr;
  } cases[] = {
      {"shorter", "d/f", {"short"}, "short"},
      {"longer, in parts", "d/f", {"a longer ", "record"}, "a longer record"},
      {"nothing", "d/f", {}, ""},
      {"zero bytes kept", "d/f", {zeros}, zeros},
      {"more parts than one call", "d/f", {"", "0", "1", "2", "3", "4", "5", "6", big},
       "0123456" + big},
      {"missing directory", "e/f", {"x"}, "earlier"},
      {"a directory in its place", "d/g", {"x"}, "earlier"},
#ifndef _WIN32
      {"unwritable directory", "d/f", {"x"}, "earlier", [&] {
         fs::permissions(dir / "d", fs::perms::owner_write | fs::perms::group_write,
                         fs::perm_options::remove);
         if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(0);  // root may write anywhere
       }},
      {"a write fails (EFBIG)", "d/f", {std::string(1000, 'x')}, "earlier", [] {
         const rlimit limit{100, 100};
         ::signal(SIGXFSZ, SIG_IGN);
         ::setrlimit(RLIMIT_FSIZE, &limit);
       }},
#endif
  };
  // clang-format on
  for (const auto& c : cases) {
    std::ofstream(dir / "d/f", std::ios::binary) << "earlier";
    EXPECT_EQ(Replace(dir / c.file, c.parts, c.restrict), c.expected != "earlier") << c.name;
    fs::permissions(dir / "d", fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(Read(dir / "d/f"), c.expected) << c.name;
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"d", "d/f", "d/g", "d/g/h"})) << c.name;
  }
  EXPECT_FALSE(ReplaceWholeFile("", nullptr, 0));
  fs::remove_all(dir);
}

// Log records (a UTF-16LE marker, then a message) of many lengths, from
// threads and another process, while a reader reads again and again: each
// read is the marker and one whole message. Rewriting in place showed a new
// record followed by the tail of an older, longer one.
TEST(ReplaceWholeFileTest, AReaderOnlyEverSeesWholeRecords) {
  const fs::path dir = FreshDirectory(), path = dir / "SendVoiceMsg.log";
  const std::string marker("-\0-\0-\0>\0 \0\r\0\n\0", 14);
  std::set<std::string> messages;
  for (int i = 0; i < 12; ++i)
    messages.insert(std::string(1 + i * 251, static_cast<char>('a' + i)));
  std::atomic<int> stop{0}, reads{0}, broken{0}, replaced{0};
  const auto write = [&](int from) {
    for (int i = 0; i < 500; ++i)
      replaced += Replace(path, {marker, *std::next(messages.begin(), (from + i * 7) % 12)});
  };
  write(0);
#ifndef _WIN32
  const pid_t child = ::fork();  // before the threads: the child has one
  if (child == 0) ::_exit((write(5), 0));
#endif
  std::thread reader([&] {
    for (; !stop; ++reads) {
      const std::string read = Read(path);
      if (read == "<refused>") continue;
      broken += read.compare(0, 14, marker) != 0 || messages.count(read.substr(14)) == 0;
    }
  });
  std::vector<std::thread> writers;
  for (int w = 1; w <= 3; ++w) writers.emplace_back(write, w);
  for (auto& writer : writers) writer.join();
#ifndef _WIN32
  ::waitpid(child, nullptr, 0);
#endif
  stop = 1;
  reader.join();
  EXPECT_EQ(broken, 0) << "of " << reads << " reads";
  EXPECT_GT(replaced, 500);  // on Windows a move fails while the reader has the file open
  fs::remove(path);
  EXPECT_EQ(Entries(dir), (std::set<std::string>{"d", "d/g", "d/g/h"}));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace platform
}  // namespace voicecontrol
