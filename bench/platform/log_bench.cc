// The cost of one log record: the file rewritten in place and cut to length
// (how the library wrote its logs before; a reader could see a new record
// followed by the tail of an older one), a new file renamed over the old
// one, and platform::ReplaceWholeFile as the library does it now, each for
// a typical request (about 400 bytes) and answer (about 1.5 KB). The run
// ends with each way's time per record over the in-place one's, and the
// number of records written, for system call counts per record
// (strace -c -f log_bench divided by it).
//
// The files are written in the directory $VC_LOG_BENCH_DIR, by default
// log_bench.dir under the working directory: the file system is what is
// measured.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/file.h"

namespace {

std::atomic<long> recordsWritten{0};

std::string Directory() {
  const char* chosen = std::getenv("VC_LOG_BENCH_DIR");
  return chosen != nullptr && *chosen != '\0' ? chosen : "log_bench.dir";
}

constexpr char kMarker[15] = "-\0-\0-\0>\0 \0\r\0\n\0";

// The way the library wrote a record before: opened without truncation,
// written in one call (marker and message copied together, as it did for
// records up to 4 KB), cut to the written length when the file was longer.
bool InPlace(const char* path, const std::string& message) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat status;
  const off_t earlier = ::fstat(fd, &status) == 0 ? status.st_size : -1;
  char record[4096];
  std::memcpy(record, kMarker, 14);
  std::memcpy(record + 14, message.data(), message.size());
  const ssize_t written = ::write(fd, record, 14 + message.size());
  bool done = written == static_cast<ssize_t>(14 + message.size());
  if (done && (earlier < 0 || earlier > written)) done = ::ftruncate(fd, written) == 0;
  ::close(fd);
  return done;
}

// A new file beside the old one, then a plain rename over it.
bool RenameOver(const char* path, const std::string& message) {
  const std::string temporary = std::string(path) + ".bench.tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  iovec parts[2] = {{const_cast<char*>(kMarker), 14},
                    {const_cast<char*>(message.data()), message.size()}};
  bool done = ::writev(fd, parts, 2) == static_cast<ssize_t>(14 + message.size());
  done = ::close(fd) == 0 && done;
  if (done && ::rename(temporary.c_str(), path) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

// What the library does now.
bool Library(const char* path, const std::string& message) {
  const voicecontrol::platform::ByteRange parts[] = {{kMarker, 14},
                                                     {message.data(), message.size()}};
  return voicecontrol::platform::ReplaceWholeFile(path, parts, 2);
}

using Way = bool (*)(const char*, const std::string&);

// Records of `state.range(0)` bytes and a tenth less in turn: consecutive
// requests differ in length, and a shorter one is what needed the cut.
void WriteRecords(benchmark::State& state, Way way) {
  const std::string directory = Directory();
  ::mkdir(directory.c_str(), 0777);
  const std::string path = directory + "/SendVoiceMsg.log";
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string messages[] = {std::string(size, 'r'), std::string(size - size / 10, 's')};
  size_t next = 0;
  for (auto _ : state) {
    if (!way(path.c_str(), messages[next])) {
      state.SkipWithError("the record could not be written");
      break;
    }
    next ^= 1;
  }
  recordsWritten += static_cast<long>(state.iterations());
  ::unlink(path.c_str());
  ::rmdir(directory.c_str());
}

// Request-sized and answer-sized records.
#define LOG_BENCHMARK(way) BENCHMARK_CAPTURE(WriteRecords, way, way)->Arg(400)->Arg(1500)
LOG_BENCHMARK(InPlace);
LOG_BENCHMARK(RenameOver);
LOG_BENCHMARK(Library);

// Adds each way's time per record over the in-place way's for the same
// size (medians when the runs are repeated).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration && !medians_.count(run.run_name.str())) {
        times_[run.run_name.str()] = run.GetAdjustedRealTime();
      } else if (median) {
        times_[run.run_name.str()] = run.GetAdjustedRealTime();
        medians_[run.run_name.str()] = true;
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\ntime per record over the in-place way's (%s)\n",
                medians_.empty() ? "single runs" : "medians");
    for (const auto& entry : times_) {
      const std::string& name = entry.first;  // WriteRecords/WAY/SIZE
      const size_t way = name.find('/') + 1, size = name.rfind('/');
      const auto base = times_.find("WriteRecords/InPlace" + name.substr(size));
      if (base == times_.end() || base->second <= 0) continue;
      std::printf("  %-12s %5s bytes  %6.1f us  %5.2f\n", name.substr(way, size - way).c_str(),
                  name.substr(size + 1).c_str(), entry.second / 1000.0,
                  entry.second / base->second);
    }
    std::printf("records written: %ld\n", recordsWritten.load());
  }

 private:
  std::map<std::string, double> times_;  // ns per record
  std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
