#include "platform/file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace voicecontrol {
namespace platform {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

bool Replace(const fs::path& path, const std::vector<std::string>& parts) {
  std::vector<ByteRange> ranges;
  for (const auto& part : parts) ranges.push_back({part.data(), part.size()});
  return ReplaceWholeFile(path.u8string().c_str(), ranges.data(), ranges.size());
}

// A directory of its own: test processes run side by side.
fs::path FreshDirectory(const std::string& name) {
#ifdef _WIN32
  const fs::path dir = fs::path(::testing::TempDir()) / (name + std::to_string(_getpid()));
#else
  const fs::path dir = fs::path(::testing::TempDir()) / (name + std::to_string(::getpid()));
#endif
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Names under `dir` at any depth: a temporary file left behind shows.
std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    names.insert(fs::relative(entry.path(), dir).generic_u8string());
  }
  return names;
}

// The replacement runs in a child process, after `restrict` (POSIX), so
// that limits and lost rights stay there.
bool ReplaceIn(const std::function<void()>& restrict, const fs::path& path,
               const std::vector<std::string>& parts) {
#ifndef _WIN32
  if (!restrict) return Replace(path, parts);
  const pid_t child = ::fork();
  if (child == 0) ::_exit((restrict(), Replace(path, parts)) ? 0 : 1);
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#else
  return !restrict && Replace(path, parts);
#endif
}

// Each case starts from "d/f" holding "earlier"; a failure leaves it so and
// no temporary file anywhere. A directory that vanished after it was
// chosen is one that is missing.
TEST(ReplaceWholeFileTest, TheFileHoldsTheNewContentOrStaysAsItWas) {
  const fs::path dir = FreshDirectory("vc_replace_whole_file_");
  fs::create_directories(dir / "d/g/h");
  const std::string zeros("a\0b", 3), big(70000, 'z');
  // clang-format off
  const struct {
    const char* name;
    const char* file;
    std::vector<std::string> parts;
    std::string expected;  // in "d/f" afterwards; "earlier" when the call fails
    std::function<void()> restrict = nullptr;  // in a child process, first
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
  const std::set<std::string> entries = {"d", "d/f", "d/g", "d/g/h"};
  for (const auto& c : cases) {
    std::ofstream(dir / "d/f", std::ios::binary) << "earlier";
    EXPECT_EQ(ReplaceIn(c.restrict, dir / c.file, c.parts), c.expected != "earlier") << c.name;
    fs::permissions(dir / "d", fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(Read(dir / "d/f"), c.expected) << c.name;
    EXPECT_EQ(Entries(dir), entries) << c.name;
  }
  EXPECT_FALSE(ReplaceWholeFile("", nullptr, 0));
  fs::remove_all(dir);
}

// Threads and another process replace one file with records of many
// lengths while a reader reads it again and again: every read finds one
// whole record. Rewriting in place showed a new record followed by the
// tail of an older, longer one.
TEST(ReplaceWholeFileTest, AReaderOnlyEverSeesWholeRecords) {
  const fs::path dir = FreshDirectory("vc_replace_whole_file_reader_");
  const fs::path path = dir / "shared.log";
  std::vector<std::string> records;
  for (int i = 0; i < 12; ++i)
    records.push_back(std::to_string(i) + std::string(1 + i * 251, static_cast<char>('a' + i)));
  const std::set<std::string> whole(records.begin(), records.end());
  ASSERT_TRUE(Replace(path, {records[0]}));
  std::atomic<int> stop{0}, reads{0}, broken{0}, replaced{0};
  const auto write = [&](int from) {
    for (int i = 0; i < 500; ++i) replaced += Replace(path, {records[(from + i * 7) % 12]});
  };
#ifndef _WIN32
  const pid_t child = ::fork();  // before the threads: the child has one
  if (child == 0) {
    write(5);
    ::_exit(0);
  }
#endif
  std::thread reader([&] {
    for (; !stop; ++reads) broken += whole.count(Read(path)) == 0;
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < 3; ++w) writers.emplace_back(write, w);
  for (auto& writer : writers) writer.join();
#ifndef _WIN32
  ::waitpid(child, nullptr, 0);
#endif
  stop = 1;
  reader.join();
  EXPECT_EQ(broken, 0) << "of " << reads << " reads";
  EXPECT_GT(replaced, 0);  // on Windows a move fails while the reader has the file open
  EXPECT_EQ(Entries(dir), std::set<std::string>{"shared.log"});
  fs::remove_all(dir);
}

}  // namespace
}  // namespace platform
}  // namespace voicecontrol
