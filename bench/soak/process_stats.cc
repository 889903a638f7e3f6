#include "process_stats.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace voicecontrol {
namespace soak {

namespace {

// The number after `name` ("VmRSS:", "Threads:") in /proc/self/status.
long StatusField(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, name.size(), name) != 0) continue;
    std::istringstream fields(line.substr(name.size()));
    long value = -1;
    fields >> value;  // "VmRSS:     12345 kB"
    return value;
  }
  return -1;
}

}  // namespace

long HeapInUseKb() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
#else
  return -1;
#endif
}

const char kSteadyMallocTunables[] =
    "glibc.malloc.tcache_count=0:glibc.malloc.arena_max=1:glibc.malloc.mmap_threshold=131072:"
    "glibc.malloc.trim_threshold=0:glibc.pthread.stack_cache_size=0";

bool MallocIsSteady() {
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  return tunables != nullptr && std::strcmp(tunables, kSteadyMallocTunables) == 0;
}

void RestartWithSteadyMalloc(char** argv) {
  // The program's own path rather than /proc/self/exe, which would become
  // the process's name.
  std::error_code error;
  const std::string program = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error || setenv("GLIBC_TUNABLES", kSteadyMallocTunables, 1) != 0) return;
  execv(program.c_str(), argv);
}

long ResidentKb() { return StatusField("VmRSS:"); }

long ResidentAnonKb() { return StatusField("RssAnon:"); }

int ThreadCount() { return static_cast<int>(StatusField("Threads:")); }

int OpenDescriptors() {
  std::error_code error;
  std::filesystem::directory_iterator entries("/proc/self/fd", error);
  if (error) return -1;
  int count = 0;
  for (const auto& entry : entries) {
    (void)entry;
    ++count;
  }
  // The iterator holds the directory open while it lists it, so that
  // descriptor is among the entries.
  return count - 1;
}

}  // namespace soak
}  // namespace voicecontrol
