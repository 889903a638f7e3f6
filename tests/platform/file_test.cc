#include "platform/file.h"

#include <gtest/gtest.h>

#include <algorithm>
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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace voicecontrol {
namespace platform {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

bool Replace(const std::string& path, const std::string& content) {
  const ByteRange part{content.data(), content.size()};
  return ReplaceWholeFile(path.c_str(), &part, 1);
}

#ifndef _WIN32
// Runs `body` in a child process; true when it returned true there.
bool InChild(const std::function<bool()>& body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body() ? 0 : 1);
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}
#endif

// Each test in a fresh directory of its own: ctest runs several test
// processes at once.
class ReplaceWholeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / ("vc_file_test_" + std::string(test->name()) + "_" +
                                            std::to_string(ProcessId()));
    fs::remove_all(dir_);
    ASSERT_TRUE(fs::create_directories(dir_));
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_ / "locked", fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).u8string(); }
  // Every name under the directory, at any depth, in order.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      names.push_back(fs::relative(entry.path(), dir_).generic_u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(ReplaceWholeFileTest, TheFileHoldsExactlyTheNewContent) {
  const std::string zeros("a\0b", 3);
  const struct {
    const char* name;
    const char* earlier;  // null: no file yet
    std::vector<std::string> parts;
    std::string expected;
  } cases[] = {
      {"new file", nullptr, {"first record"}, "first record"},
      {"shorter than before", "a longer earlier record", {"short"}, "short"},
      {"longer than before", "short", {"a longer ", "record"}, "a longer record"},
      {"nothing", "earlier", {}, ""},
      {"zero bytes kept", "x", {zeros}, zeros},
      {"empty parts", "x", {"", "a", "", "b", ""}, "ab"},
      {"more parts than one call takes", "x",
       {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", std::string(70000, 'z')},
       "0123456789" + std::string(70000, 'z')},
  };
  const std::string path = PathOf("record.log");
  for (const auto& c : cases) {
    fs::remove(path);
    if (c.earlier != nullptr) std::ofstream(path, std::ios::binary) << c.earlier;
    std::vector<ByteRange> parts;
    for (const auto& part : c.parts) parts.push_back({part.data(), part.size()});
    EXPECT_TRUE(ReplaceWholeFile(path.c_str(), parts.data(), parts.size())) << c.name;
    EXPECT_EQ(Read(path), c.expected) << c.name;
    EXPECT_EQ(Entries(), std::vector<std::string>{"record.log"}) << c.name;
  }
}

// A failure leaves the file as it was and no temporary file anywhere.
TEST_F(ReplaceWholeFileTest, AFailureChangesNothing) {
  const struct {
    const char* name;
    std::function<std::string()> prepare;  // returns the path to replace
    std::vector<std::string> entries;
  } cases[] = {
      {"missing directory", [&] { return PathOf("missing/record.log"); }, {}},
      {"vanished directory",
       [&] {
         fs::create_directory(dir_ / "gone");
         const std::string path = PathOf("gone/record.log");
         fs::remove(dir_ / "gone");
         return path;
       },
       {}},
      {"empty path", [] { return std::string(); }, {}},
      {"a directory in the file's place",
       [&] {
         fs::create_directories(dir_ / "taken" / "inside");
         return PathOf("taken");
       },
       {"taken", "taken/inside"}},
  };
  for (const auto& c : cases) {
    std::ofstream(PathOf("record.log")) << "earlier";
    const std::string path = c.prepare();
    EXPECT_FALSE(Replace(path, "new")) << c.name;
    std::vector<std::string> expected = c.entries;
    expected.push_back("record.log");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(), expected) << c.name;
    EXPECT_EQ(Read(PathOf("record.log")), "earlier") << c.name;
  }
  EXPECT_FALSE(ReplaceWholeFile(nullptr, nullptr, 0));
}

#ifndef _WIN32
TEST_F(ReplaceWholeFileTest, AFailedCreateOrWriteChangesNothing) {
  fs::create_directory(dir_ / "locked");
  const std::string path = PathOf("locked/record.log");
  ASSERT_TRUE(Replace(path, "earlier"));
  const struct {
    const char* name;
    std::function<void()> restrict;  // run in the child before replacing
  } cases[] = {
      // The directory may no longer be written into (root, who may write
      // anywhere, gives up its rights first).
      {"unwritable directory",
       [&] {
         fs::permissions(dir_ / "locked", fs::perms::others_write | fs::perms::group_write |
                                              fs::perms::owner_write,
                         fs::perm_options::remove);
         if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(2);
       }},
      // Writing stops after 100 bytes (EFBIG, its signal ignored).
      {"write fails",
       [] {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit limit{100, 100};
         ::setrlimit(RLIMIT_FSIZE, &limit);
       }},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(InChild([&] {
      c.restrict();
      return !Replace(path, std::string(1000, 'x'));
    })) << c.name;
    fs::permissions(dir_ / "locked", fs::perms::owner_all);
    EXPECT_EQ(Read(path), "earlier") << c.name;
    EXPECT_EQ(Entries(), (std::vector<std::string>{"locked", "locked/record.log"})) << c.name;
  }
}
#endif

// Writers in several threads and another process replace one file with
// records of many lengths while a reader reads it again and again: every
// read finds one whole record. Rewriting in place showed a new record
// followed by the tail of an older, longer one.
TEST_F(ReplaceWholeFileTest, AReaderOnlyEverSeesWholeRecords) {
  std::vector<std::string> records;
  for (int i = 0; i < 12; ++i) {
    records.push_back("[" + std::to_string(i) + "]" + std::string(1 + (i * 397) % 3000, 'a' + i));
  }
  const std::set<std::string> whole(records.begin(), records.end());
  const std::string path = PathOf("shared.log");
  ASSERT_TRUE(Replace(path, records[0]));
  constexpr int kWriters = 3, kPerWriter = 500;
#ifndef _WIN32
  // Forked before any thread starts: the child has only this one.
  const pid_t child = ::fork();
  if (child == 0) {
    for (int i = 0; i < kPerWriter; ++i) Replace(path, records[(i * 5) % records.size()]);
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
#endif
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, broken{0}, replaced{0};
  std::thread reader([&] {
    while (!stop) {
      const std::string seen = Read(path);
      ++reads;
      if (whole.count(seen) == 0 && broken++ == 0) {
        ADD_FAILURE() << "not one whole record: " << seen.size() << " bytes, "
                      << seen.substr(0, 8);
      }
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) {
        if (Replace(path, records[(w + i * 7) % records.size()])) ++replaced;
      }
    });
  }
  for (auto& writer : writers) writer.join();
#ifndef _WIN32
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
  stop = true;
  reader.join();
  EXPECT_EQ(broken, 0);
  EXPECT_GT(reads, 0);
  EXPECT_GT(replaced, 0);  // on Windows a move fails while the reader has the file open
  EXPECT_EQ(Entries(), std::vector<std::string>{"shared.log"});
}

}  // namespace
}  // namespace platform
}  // namespace voicecontrol
