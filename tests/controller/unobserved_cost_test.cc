// Without an event hook a command pays nothing for timelines: no clock is
// read and nothing is allocated for them. This program counts every
// allocation and every clock read of the process (it replaces operator new
// and interposes clock_gettime), so it is a program of its own.
#include <voicecontrol/voicecontrol.h>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>

#include "test_support.h"

namespace {

std::atomic<long> allocations{0};
std::atomic<long> clockReads{0};
// Threads other than the test's are not counted.
thread_local bool uncounted = false;

}  // namespace

void* operator new(size_t size) {
  if (!uncounted) ++allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }

extern "C" int clock_gettime(clockid_t clock, timespec* now) {
  using Real = int (*)(clockid_t, timespec*);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "clock_gettime"));
  if (!uncounted) ++clockReads;
  return real(clock, now);
}

namespace voicecontrol {
namespace {

struct Done {
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;
};

struct Cost {
  long allocations;
  long clockReads;
};

// Commands that end on the calling thread, so that what they cost does not
// depend on how threads happen to meet: a refused argument, and a refused
// connection.
struct Row {
  const char* name;
  const char* argument;
  long timelineReads;  // the points such a command's timeline has
};

const Row kRows[] = {
    {"RefusedArgument", "bad\x01", 2},  // queued, delivered
    {"RefusedConnection", "s1", 3},     // queued, connect started, delivered
};

class UnobservedCostTest : public ::testing::TestWithParam<Row> {};

Cost CostOf(vc_controller* controller, const char* argument, int commands) {
  const Cost before{allocations.load(), clockReads.load()};
  for (int i = 0; i < commands; ++i) vc_kick(controller, argument, "m", nullptr);
  return Cost{allocations.load() - before.allocations, clockReads.load() - before.clockReads};
}

TEST_P(UnobservedCostTest, NoClockReadNorAllocationForTimelinesWithoutAHook) {
  const Row& row = GetParam();
  vc_disable_logs();
  vc_controller* controller = vc_controller_create(nullptr, nullptr);
  ASSERT_EQ(vc_set_server(controller, "127.0.0.1", testing::ClosedPort()), VC_OK);
  constexpr int kCommands = 20;
  CostOf(controller, row.argument, 3);  // warms up whatever is made once
  const Cost unhooked = CostOf(controller, row.argument, kCommands);
  vc_set_event_hook(controller, [](void*, const vc_request_events*) {}, nullptr);
  const Cost hooked = CostOf(controller, row.argument, kCommands);
  vc_controller_destroy(controller);

  EXPECT_EQ(hooked.clockReads - unhooked.clockReads, row.timelineReads * kCommands);
  EXPECT_EQ(hooked.allocations, unhooked.allocations);
}

INSTANTIATE_TEST_SUITE_P(Ends, UnobservedCostTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace voicecontrol
