#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace voicecontrol {
namespace platform {
namespace {

TEST(ThreadTest, JoinWaitsForTheBody) {
  std::atomic<bool> done{false};
  Thread thread;
  EXPECT_FALSE(thread.IsStarted());
  ASSERT_TRUE(thread.Start([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    done = true;
  }));
  EXPECT_TRUE(thread.IsStarted());
  EXPECT_FALSE(thread.Start([] {}));  // one body per thread object
  thread.Join();
  EXPECT_TRUE(done);
  EXPECT_FALSE(thread.IsStarted());
  thread.Join();  // nothing left to wait for
}

TEST(ThreadTest, JoinOnTheThreadItselfDoesNotHang) {
  std::atomic<bool> started{false};
  std::atomic<bool> joined{false};
  auto* thread = new Thread;
  ASSERT_TRUE(thread->Start([&] {
    while (!started) std::this_thread::yield();
    delete thread;  // joins from inside: must detach instead
    joined = true;
  }));
  started = true;
  while (!joined) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(MutexTest, SerialisesIncrements) {
  Mutex mutex;
  long counter = 0;
  Thread threads[4];
  for (auto& thread : threads) {
    ASSERT_TRUE(thread.Start([&] {
      for (int i = 0; i < 10000; ++i) {
        MutexLock lock(&mutex);
        ++counter;
      }
    }));
  }
  for (auto& thread : threads) thread.Join();
  EXPECT_EQ(counter, 40000);
}

TEST(ConditionVariableTest, HandsOverAValueBothWays) {
  Mutex mutex;
  ConditionVariable changed;
  int value = 0;  // guarded by mutex
  Thread echo;
  ASSERT_TRUE(echo.Start([&] {
    MutexLock lock(&mutex);
    while (value != 1) changed.Wait(&mutex);
    value = 2;
    changed.Broadcast();
  }));
  {
    MutexLock lock(&mutex);
    value = 1;
    changed.Signal();
    while (value != 2) changed.Wait(&mutex);
  }
  echo.Join();
  EXPECT_EQ(value, 2);
}

TEST(ConditionVariableTest, TimedWaitEndsBySignalOrTime) {
  Mutex mutex;
  ConditionVariable changed;
  bool ready = false;  // guarded by mutex
  {
    MutexLock lock(&mutex);
    EXPECT_FALSE(changed.WaitFor(&mutex, 20));
  }
  Thread signaller;
  ASSERT_TRUE(signaller.Start([&] {
    MutexLock lock(&mutex);
    ready = true;
    changed.Signal();
  }));
  {
    MutexLock lock(&mutex);
    while (!ready) ASSERT_TRUE(changed.WaitFor(&mutex, 10000));
  }
  signaller.Join();
}

TEST(ClockTest, MonotonicClockAdvances) {
  const int64_t before = MonotonicMilliseconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const int64_t after = MonotonicMilliseconds();
  EXPECT_GE(after - before, 29);
  EXPECT_LT(after - before, 5000);
}

TEST(ClockTest, LocalDateTimeMatchesTheCalendarFields) {
  std::tm fields = {};
  fields.tm_year = 2024 - 1900;
  fields.tm_mon = 0;
  fields.tm_mday = 15;
  fields.tm_hour = 10;
  fields.tm_min = 50;
  fields.tm_sec = 7;
  fields.tm_isdst = -1;
  const std::time_t when = std::mktime(&fields);
  LocalDateTime local;
  ASSERT_TRUE(ToLocalDateTime(when, &local));
  EXPECT_EQ(local.year, 2024);
  EXPECT_EQ(local.month, 1);
  EXPECT_EQ(local.day, 15);
  EXPECT_EQ(local.hour, 10);
  EXPECT_EQ(local.minute, 50);
  EXPECT_EQ(local.second, 7);
}

}  // namespace
}  // namespace platform
}  // namespace voicecontrol
