// soak: proves that nothing grows. One process drives several controllers
// against an in-process SimulatedServer for the given minutes, with all six
// commands and every fault mode of the simulator, and samples its own
// resident memory and open descriptors every few seconds.
//
//   soak [MINUTES] [--controllers N] [--depth N] [--interval S] [--warmup S] ...
//
// Most samples are taken under load. Some are quiet: the load is paused
// until no command is in flight and the receive threads left over from the
// load have ended, so that they hold nothing but what the process keeps: the
// first sample after the warm-up, then one every 20 s, and the last one. Only quiet samples are judged, like with like: a sample
// under load also holds the buffers, threads and connections of the
// commands in flight (24 by default), which come and go by a fifth of this
// small process from one sample to the next. What leaks stays through a
// pause. No slow fault is queued in the 6 seconds before a pause, so that
// the pause waits for quick answers only, a few milliseconds.
//
// Even quiet, resident memory wobbles by a few per cent without a trend:
// the receive threads kept waiting for the next request keep the stack
// pages their deepest answer touched (an 80 KB buffer), and which threads
// are kept changes; freed blocks inside the heap stay resident until the
// heap's top is free. That wobble only ever adds to the floor of what is in
// use. A leak lifts the floor itself, every later sample with it. So the
// memory line compares floors: the lowest of the quiet samples of the
// second half of the run against the lowest of the first half. (The plain
// largest-later-against-first figure is printed beside it.) The allocator is kept from
// caching by rules of its own (process_stats.h), which would otherwise pass
// for growth for many minutes.
//
// Verdict (exit status 0 when every line holds, 1 otherwise):
//   memory       the floor of the quiet samples of the second half at most
//                2% above that of the first half;
//   descriptors  no later quiet sample has more than the first;
//   outcomes     every command got exactly one outcome, of its own kind;
//   faults       every queued fault gave the error it stands for, and no
//                other error came;
//   teardown     once the controllers and the server are gone, the process
//                has the descriptors it started with.
#include <voicecontrol/testing/simulator.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "load.h"
#include "process_stats.h"
#include "report.h"
#include "simulator_target.h"

namespace voicecontrol {
namespace soak {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr double kMemoryLimitPercent = 2.0;
// How long a quiet sample waits once nothing is in flight, watching the
// descriptors: the server closes its end of a connection just after the
// client has its answer, and each controller's receive threads beyond the
// two it keeps end after 2 s without a request, each with the descriptor
// it waits on. Only then is a quiet sample like the others.
constexpr auto kSettleTime = std::chrono::milliseconds(2500);
constexpr auto kSettleStep = std::chrono::milliseconds(10);

struct Options {
  double minutes = 2;
  double intervalSeconds = 5;
  double warmupSeconds = 20;
  double quietEverySeconds = 20;
  bool steadyMalloc = true;
  LoadOptions load;
};

struct Sample {
  double seconds = 0;
  long rssKb = 0;
  long heapKb = 0;
  long anonKb = 0;
  int fds = 0;
  int threads = 0;
  int inFlight = 0;    // commands in flight at the moment of the sample
  bool quiet = false;  // taken with the load paused and nothing in flight
  Tally tally;
};

// What the process holds now.
void ReadProcess(Sample* sample) {
  sample->fds = OpenDescriptors();
  sample->rssKb = ResidentKb();
  sample->anonKb = ResidentAnonKb();
  sample->heapKb = HeapInUseKb();
  sample->threads = ThreadCount();
}

Sample TakeSample(const Load& load, Clock::time_point start) {
  Sample sample;
  sample.seconds = Seconds(Clock::now() - start).count();
  sample.inFlight = load.InFlight();
  ReadProcess(&sample);
  sample.tally = load.Totals();
  return sample;
}

// Pauses the load until nothing is in flight, then counts descriptors for
// a short while and keeps the least: a descriptor that leaked stays open
// through it, one the server is just closing does not. The load stays
// paused; the caller resumes it.
Sample TakeQuietSample(Load& load, Clock::time_point start) {
  load.Pause();
  Sample sample = TakeSample(load, start);
  int fewest = sample.fds;
  for (const auto until = Clock::now() + kSettleTime; Clock::now() < until;) {
    std::this_thread::sleep_for(kSettleStep);
    fewest = std::min(fewest, OpenDescriptors());
  }
  ReadProcess(&sample);
  sample.fds = std::min(fewest, sample.fds);
  sample.quiet = true;
  return sample;
}

// The error texts that get a column of their own; the rest are "other".
constexpr ErrorText kErrorColumns[] = {kTimeout, kDecode, kBadMessage, kParamError};
constexpr const char* kErrorColumnNames[] = {"timeout", "decode", "badmsg", "param"};

void PrintHeader() {
  std::printf("%7s %8s %8s %8s %5s %7s %6s %10s %6s ", "time_s", "rss_kb", "anon_kb", "heap_kb",
              "fds", "threads", "flying", "commands", "cmd/s");
  for (const char* name : kOutcomeNames) std::printf(" %8s", name);
  std::printf(" |");
  for (const char* name : kErrorColumnNames) std::printf(" %7s", name);
  std::printf(" %7s\n", "other");
}

// One line: the process, then the commands done so far and their outcomes
// by kind, the errors by text.
void PrintSample(const Sample& sample, const Sample* previous) {
  const Tally& t = sample.tally;
  double rate = 0;
  if (previous != nullptr && sample.seconds > previous->seconds) {
    rate =
        static_cast<double>(t.done - previous->tally.done) / (sample.seconds - previous->seconds);
  }
  std::printf("%7.1f %8ld %8ld %8ld %5d %7d %6d %10llu %6.0f ", sample.seconds, sample.rssKb,
              sample.anonKb, sample.heapKb, sample.fds, sample.threads, sample.inFlight,
              Count(t.done), rate);
  for (uint64_t count : t.outcomes) std::printf(" %8llu", Count(count));
  std::printf(" |");
  uint64_t other = t.outcomes[kError];
  for (ErrorText error : kErrorColumns) {
    std::printf(" %7llu", Count(t.errors[error]));
    other -= t.errors[error];
  }
  std::printf(" %7llu%s\n", Count(other), sample.quiet ? "  quiet" : "");
  std::fflush(stdout);
}

// Runs the load for the given time, printing each sample as it is taken:
// quiet ones at the first tick after the warm-up, then at the first tick
// every quietEverySeconds, and at the end.
std::vector<Sample> RunAndSample(Load& load, const Options& options) {
  auto after = [](double seconds) {
    return std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
  };
  const auto start = Clock::now();
  const auto interval = after(options.intervalSeconds);
  const auto end = start + after(options.minutes * 60);
  // The sample ticks are start + k * interval; quiet ones fall on ticks.
  auto tick = [&](int64_t k) { return start + k * interval; };
  auto firstTickFrom = [&](Clock::time_point at) {
    return ((at - start).count() + interval.count() - 1) / interval.count();
  };
  int64_t quietTick = std::max<int64_t>(1, firstTickFrom(start + after(options.warmupSeconds)));
  auto planPause = [&] { load.PlanPause(std::min(tick(quietTick), end)); };
  planPause();
  // All the room the samples take is taken now: a vector that doubled on
  // the way would pass for growth of the process it measures.
  std::vector<Sample> samples;
  samples.reserve(2 * static_cast<size_t>(options.minutes * 60 / options.intervalSeconds) + 8);
  load.Start();
  samples.push_back(TakeSample(load, start));
  PrintSample(samples.back(), nullptr);
  for (int64_t k = 1; tick(k) < end; ++k) {
    std::this_thread::sleep_until(tick(k));
    if (k >= quietTick) {
      samples.push_back(TakeQuietSample(load, start));
      quietTick = std::max(k + 1, firstTickFrom(tick(k) + after(options.quietEverySeconds)));
      planPause();
      load.Resume();
    } else {
      samples.push_back(TakeSample(load, start));
    }
    PrintSample(samples.back(), &samples[samples.size() - 2]);
  }
  std::this_thread::sleep_until(end);
  samples.push_back(TakeQuietSample(load, start));
  PrintSample(samples.back(), &samples[samples.size() - 2]);
  return samples;
}

std::vector<const Sample*> QuietSamples(const std::vector<Sample>& samples) {
  std::vector<const Sample*> quiet;
  for (const Sample& sample : samples) {
    if (sample.quiet) quiet.push_back(&sample);
  }
  return quiet;
}

const Sample* Lowest(std::vector<const Sample*>::const_iterator from,
                     std::vector<const Sample*>::const_iterator to) {
  return *std::min_element(from, to,
                           [](const Sample* a, const Sample* b) { return a->rssKb < b->rssKb; });
}

// Floors of the first and the second half of the quiet samples (see the
// top of this file; of an odd count the middle one is in neither).
bool JudgeMemory(const std::vector<const Sample*>& quiet) {
  const size_t half = quiet.size() / 2;
  const Sample& early = *Lowest(quiet.begin(), quiet.begin() + half);
  const Sample& late = *Lowest(quiet.end() - half, quiet.end());
  const double growth =
      100.0 * static_cast<double>(late.rssKb - early.rssKb) / static_cast<double>(early.rssKb);
  const bool ok = early.rssKb > 0 && growth <= kMemoryLimitPercent;
  std::printf(
      "  memory       lowest of the first %zu quiet samples %ld KB (%.0f s), of the last "
      "%zu %ld KB (%.0f s): %+.2f%% (limit %+.0f%%)    %s\n",
      half, early.rssKb, early.seconds, half, late.rssKb, late.seconds, growth, kMemoryLimitPercent,
      Mark(ok));
  const Sample& first = *quiet.front();
  const Sample* largest = quiet[1];
  for (const Sample* sample : quiet) {
    if (sample != &first && sample->rssKb > largest->rssKb) largest = sample;
  }
  std::printf(
      "               (first quiet sample %ld KB, largest later %ld KB at %.0f s: "
      "%+.2f%%)\n",
      first.rssKb, largest->rssKb, largest->seconds,
      100.0 * static_cast<double>(largest->rssKb - first.rssKb) / static_cast<double>(first.rssKb));
  return ok;
}

bool JudgeDescriptors(const std::vector<const Sample*>& quiet) {
  const Sample& first = *quiet.front();
  const Sample* largest = quiet[1];
  for (const Sample* sample : quiet) {
    if (sample != &first && sample->fds > largest->fds) largest = sample;
  }
  const Sample& last = *quiet.back();
  const bool ok = first.fds >= 0 && largest->fds <= first.fds;
  std::printf(
      "  descriptors  %d at %.0f s, at most %d later (%.0f s), %d at the end: %+d    "
      "%s\n",
      first.fds, first.seconds, largest->fds, largest->seconds, last.fds, largest->fds - first.fds,
      Mark(ok));
  return ok;
}

// Not judged: the spread of the samples under load after the warm-up, which
// shows how much the commands in flight hold.
void PrintLoadedRange(const std::vector<Sample>& samples, double warmupSeconds) {
  long low = -1, high = -1;
  int fewest = -1, most = -1;
  for (const Sample& s : samples) {
    if (s.quiet || s.seconds < warmupSeconds) continue;
    if (low < 0 || s.rssKb < low) low = s.rssKb;
    if (s.rssKb > high) high = s.rssKb;
    if (fewest < 0 || s.fds < fewest) fewest = s.fds;
    if (s.fds > most) most = s.fds;
  }
  if (low < 0) return;
  std::printf("under load after the warm-up: %ld..%ld KB, %d..%d descriptors\n", low, high, fewest,
              most);
}

// The simulator's fault queue is shared by all connections, so a fault
// shapes whichever answer is next, but each one shapes exactly one; with
// the queue empty at the end every fault has been taken, and each error
// text must have come exactly as often as the faults that give it.
int Run(const Options& options) {
  const int fdsAtStart = OpenDescriptors();
  testing::ServerOptions serverOptions;
  // The server keeps no copies of the requests: its own record must not
  // pass for growth of the library's.
  serverOptions.requestLogLimit = 0;
  bool ok = true;
  {
    testing::SimulatedServer server(serverOptions);
    std::printf(
        "soak: %d controllers, up to %d commands in flight each, against %s:%u for "
        "%.1f min; a sample every %.0f s, a quiet one after the %.0f s warm-up, then every %.0f s "
        "and "
        "at the end\n"
        "      quick faults on %.0f%% of the commands, a fault that costs the 5 s "
        "time-out every %.1f s; malloc %s\n",
        options.load.controllers, options.load.depth, server.address().c_str(), server.port(),
        options.minutes, options.intervalSeconds, options.warmupSeconds, options.quietEverySeconds,
        100 * options.load.faultShare, options.load.slowFaultEveryMs / 1000.0,
        MallocIsSteady() ? "without tcache, 1 arena, mmap threshold 128 KB, free top trimmed, no stack cache"
                         : "as the system sets it");
    // Twice the commands the load keeps in flight, and room for the
    // connections the slow faults hold.
    const int prime = 2 * options.load.controllers * options.load.depth + 16;
    const int primed = PrimeServer(server, prime);
    std::printf(
        "      the simulator's connection threads primed with %d of %d connections at "
        "once\n",
        primed, prime);
    PrintHeader();
    SimulatorTarget target(server);
    Load load(target, options.load);
    const std::vector<Sample> samples = RunAndSample(load, options);
    load.Finish();
    const Tally totals = load.Totals();
    const auto faults = load.FaultsQueued();
    const size_t leftInQueue = server.QueuedAnswers();
    server.Stop();

    PrintTotals(totals, faults, samples.back().seconds);
    PrintLoadedRange(samples, options.warmupSeconds);
    std::printf("verdict:\n");
    const std::vector<const Sample*> quiet = QuietSamples(samples);
    if (quiet.size() < 2) {
      std::printf(
          "  memory, descriptors: no quiet sample after the warm-up; run longer    "
          "FAILED\n");
      ok = false;
    } else {
      ok = JudgeMemory(quiet) && ok;
      ok = JudgeDescriptors(quiet) && ok;
    }
    ok = JudgeOutcomes(totals) && ok;
    ok = JudgeFaults(totals, faults, leftInQueue) && ok;
  }
  const int fdsAtEnd = OpenDescriptors();
  const bool clean = fdsAtEnd == fdsAtStart;
  std::printf(
      "  teardown     %d descriptors before the server and the controllers, %d after "
      "them    %s\n",
      fdsAtStart, fdsAtEnd, Mark(clean));
  ok = ok && clean;
  return ExitStatus(ok);
}

}  // namespace
}  // namespace soak
}  // namespace voicecontrol

int main(int argc, char** argv) {
  voicecontrol::soak::Options options;
  CLI::App app{
      "Drives controllers against an in-process simulated server with every fault "
      "mode, and checks that neither memory nor descriptors grow and that every "
      "command gets exactly one outcome."};
  app.add_option("minutes", options.minutes, "How long to run (default 2)")
      ->check(CLI::PositiveNumber);
  app.add_option("--controllers", options.load.controllers, "Controllers, one thread each")
      ->check(CLI::Range(1, 64));
  app.add_option("--depth", options.load.depth, "Commands in flight per controller, at most")
      ->check(CLI::Range(1, 64));
  app.add_option("--interval", options.intervalSeconds, "Seconds between samples")
      ->check(CLI::Range(0.1, 3600.0));
  app.add_option("--warmup", options.warmupSeconds, "Seconds before the baseline sample")
      ->check(CLI::Range(0.0, 3600.0));
  app.add_option("--quiet-every", options.quietEverySeconds,
                 "Seconds between quiet samples (load paused, nothing in flight)")
      ->check(CLI::Range(1.0, 3600.0));
  app.add_option("--fault-share", options.load.faultShare,
                 "Share of commands preceded by a quick fault")
      ->check(CLI::Range(0.0, 1.0));
  double slowEvery = options.load.slowFaultEveryMs / 1000.0;
  app.add_option("--slow-every", slowEvery,
                 "Seconds between faults that cost the time-out (no answer, partial)")
      ->check(CLI::Range(0.1, 3600.0));
  app.add_flag("!--default-malloc", options.steadyMalloc,
               "Leave glibc's malloc to its own caches (see process_stats.h)");
  app.add_option("--seed", options.load.seed, "Seed of the drivers' choices");
  CLI11_PARSE(app, argc, argv);
  options.load.slowFaultEveryMs = static_cast<int>(slowEvery * 1000);
  if (options.steadyMalloc && !voicecontrol::soak::MallocIsSteady()) {
    voicecontrol::soak::RestartWithSteadyMalloc(argv);
    std::fprintf(stderr, "soak: could not restart with GLIBC_TUNABLES=%s; going on without\n",
                 voicecontrol::soak::kSteadyMallocTunables);
  }
  return voicecontrol::soak::Run(options);
}
