#include "load.h"

#include <voicecontrol/voicecontrol.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

namespace voicecontrol {
namespace soak {

using Clock = std::chrono::steady_clock;

const char* const kOutcomeNames[kOutcomeKinds] = {"result", "empty", "entries", "qsingle", "error"};
const char* const kErrorTextNames[kErrorTexts] = {
    "timeout.",      "decode.",        "bad message.", "param error.", "init http parse.",
    "socket error.", "connect error.", "send error.",  "other"};
const char* const kFaultNames[kFaultKinds] = {
    "delay",       "close-early", "no-answer", "status=299", "status=500", "http10",
    "flowid=2000", "fieldnum=0",  "garbage",   "oversize",   "partial"};

namespace {

// Sessions are kept to a few ids per controller and kicked members to a
// few names, so that the simulator's session model stays bounded too: what
// grows must be the library's.
constexpr int kSessionsPerController = 4;
constexpr int kMembers = 6;
// How long a slow fault (no answer, partial) keeps its command in flight:
// the library's 5-second time-out, and a margin.
constexpr auto kSlowFaultHold = std::chrono::milliseconds(6000);
constexpr int kMaxDsCallSeconds = 15;
constexpr int32_t kFlowOf[kCommands] = {1001, 1002, 1003, 1004, 1005, 1006};
// Session titles, among them one that needs escaping and one that is not ASCII.
const char* const kTitles[] = {"weekly", "a<b&c>d", "\xe5\x91\xa8\xe4\xbc\x9a"};  // 周会

ErrorText ErrorOf(const char* text) {
  for (int i = 0; i < kOtherError; ++i) {
    if (std::strcmp(text, kErrorTextNames[i]) == 0) return static_cast<ErrorText>(i);
  }
  return kOtherError;
}

// Whether `kind` (with `flowId` for a result) is an outcome `command` can have.
bool Fits(Command command, OutcomeKind kind, int32_t flowId) {
  switch (kind) {
    case kError:
      return true;
    case kResult:
      return command != kQAll && command != kQSingle && flowId == kFlowOf[command];
    case kQAllEmpty:
    case kQAllEntries:
      return command == kQAll;
    case kQSingleResult:
      return command == kQSingle;
    case kOutcomeKinds:
      break;
  }
  return false;
}

}  // namespace

ErrorText ExpectedError(FaultKind kind) {
  switch (kind) {
    case kCloseEarly:
    case kNoAnswer:
    case kPartial:
      return kTimeout;
    case kStatusUnknown:
    case kHttp10:
    case kOversize:
      return kDecode;
    case kFlowId:
    case kGarbage:
      return kBadMessage;
    case kFieldNum:
      return kParamError;
    default:
      return kErrorTexts;
  }
}

void Tally::Add(const Tally& other) {
  issued += other.issued;
  refused += other.refused;
  done += other.done;
  for (int i = 0; i < kCommands; ++i) byCommand[i] += other.byCommand[i];
  for (int i = 0; i < kOutcomeKinds; ++i) outcomes[i] += other.outcomes[i];
  for (int i = 0; i < kErrorTexts; ++i) errors[i] += other.errors[i];
  entries += other.entries;
  noOutcome += other.noOutcome;
  manyOutcomes += other.manyOutcomes;
  wrongKind += other.wrongKind;
  strayCalls += other.strayCalls;
}

uint64_t Tally::Outcomes() const {
  uint64_t total = 0;
  for (uint64_t count : outcomes) total += count;
  return total;
}

// What the drivers share: the target, the options, and the fault counts.
struct Load::Shared {
  FaultTarget& target;
  LoadOptions options;
  std::array<std::atomic<uint64_t>, kFaultKinds> faults{};
  // When the next slow fault is due, in milliseconds from `start`; the
  // driver that claims it moves it on.
  std::atomic<int64_t> nextSlowMs{0};
  std::atomic<uint64_t> slowCount{0};
  Clock::time_point start = Clock::now();

  Shared(FaultTarget& t, const LoadOptions& o) : target(t), options(o) {
    nextSlowMs = o.slowFaultEveryMs;
  }

  // The next quiet moment (Clock ticks); see Load::PlanPause.
  std::atomic<Clock::rep> pauseAt{Clock::time_point::max().time_since_epoch().count()};

  // True for the one caller that claims a slow fault now due. None is
  // claimed that would still be in flight at the planned pause, nor after
  // that moment until the next pause is planned: the drivers run on until
  // the sampler has paused them.
  bool ClaimSlowFault() {
    const Clock::time_point pause{Clock::duration(pauseAt.load())};
    const Clock::time_point now = Clock::now();
    if (now + kSlowFaultHold > pause) return false;
    const int64_t nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
    int64_t due = nextSlowMs.load();
    while (nowMs >= due) {
      if (nextSlowMs.compare_exchange_weak(due, nowMs + options.slowFaultEveryMs)) return true;
    }
    return false;
  }
};

// One command in flight: its driver's bookkeeping until on_done.
struct Slot {
  Driver* driver = nullptr;
  bool busy = false;
  Command command = kCreate;
  int outcomes = 0;  // single outcomes: an error, a result, "no entries", a QSingle answer
  int entries = 0;
  OutcomeKind kind = kError;
  ErrorText error = kOtherError;
  int32_t flowId = 0;
};

class Driver {
 public:
  Driver(int index, Load::Shared& shared)
      : index_(index),
        shared_(shared),
        slots_(static_cast<size_t>(shared.options.depth)),
        random_(shared.options.seed * 7919u + static_cast<unsigned>(index)) {
    for (Slot& slot : slots_) slot.driver = this;
    static const vc_callbacks callbacks = {&OnError,     &OnCommandResult, &OnQAllEmpty,
                                           &OnQAllEntry, &OnQSingleResult, &OnDone};
    controller_ = vc_controller_create(&callbacks, this);
    if (controller_ == nullptr) throw std::runtime_error("cannot create a controller");
    if (!shared.target.Aim(controller_)) {
      vc_controller_destroy(controller_);
      throw std::runtime_error("cannot set the controller's server");
    }
  }

  ~Driver() { Finish(); }

  void Start() { thread_ = std::thread(&Driver::Run, this); }

  enum class State { kRunning, kPaused, kStopping };
  void SetState(State state) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      state_ = state;
    }
    changed_.notify_all();
  }

  void WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return inFlight_ == 0; });
  }

  void Finish() {
    SetState(State::kStopping);
    if (thread_.joinable()) thread_.join();
    WaitIdle();
    vc_controller_destroy(controller_);  // nothing in flight: returns at once
    controller_ = nullptr;
  }

  Tally Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tally_;
  }

  int InFlight() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inFlight_;
  }

 private:
  void Run() {
    for (;;) {
      Slot* slot = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] {
          return state_ == State::kStopping ||
                 (state_ == State::kRunning && inFlight_ < shared_.options.depth);
        });
        if (state_ == State::kStopping) return;
        slot = TakeSlot();
        ++inFlight_;
        ++tally_.issued;
        ++tally_.byCommand[slot->command];
      }
      ArrangeFault();
      // Outside the lock: failures to connect or send are reported on this
      // thread, before the call returns.
      if (Issue(*slot) != VC_OK) Release(slot, /*refused=*/true);
    }
  }

  // Called with mutex_ held, with fewer than `depth` commands in flight.
  Slot* TakeSlot() {
    for (Slot& slot : slots_) {
      if (slot.busy) continue;
      slot.busy = true;
      slot.command = static_cast<Command>(Pick(kCommands));
      slot.outcomes = 0;
      slot.entries = 0;
      return &slot;
    }
    return nullptr;  // unreachable: a slot is free for every command not in flight
  }

  void Release(Slot* slot, bool refused) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot->busy = false;
      --inFlight_;
      if (refused) ++tally_.refused;
    }
    changed_.notify_all();
  }

  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

  // A slow fault when one is due; else a quick one on a share of commands.
  void ArrangeFault() {
    int kind = -1;
    if (shared_.ClaimSlowFault()) {
      kind = shared_.slowCount++ % 2 == 0 ? kNoAnswer : kPartial;
    } else if (std::uniform_real_distribution<double>(0, 1)(random_) < shared_.options.faultShare) {
      static const FaultKind kQuick[] = {kDelay,       kCloseEarly, kStatusUnknown,
                                         kStatusKnown, kHttp10,     kFlowId,
                                         kFieldNum,    kGarbage,    kOversize};
      kind = kQuick[Pick(static_cast<int>(sizeof kQuick / sizeof kQuick[0]))];
    }
    if (kind < 0) {
      shared_.target.Arrange(controller_, kFaultKinds, random_);
      return;
    }
    shared_.target.Arrange(controller_, static_cast<FaultKind>(kind), random_);
    ++shared_.faults[static_cast<size_t>(kind)];
  }

  vc_status Issue(Slot& slot) {
    const std::string session =
        "c" + std::to_string(index_) + "-s" + std::to_string(Pick(kSessionsPerController));
    const std::string member = "m" + std::to_string(Pick(kMembers));
    switch (slot.command) {
      case kCreate:
        return vc_create(controller_, session.c_str(), "owner", kTitles[Pick(3)], "m0,m1,m2",
                         &slot);
      case kKick:
        return vc_kick(controller_, session.c_str(), member.c_str(), &slot);
      case kChange:
        return vc_change(controller_, session.c_str(), member.c_str(),
                         static_cast<uint16_t>(Pick(10)), &slot);
      case kQAll:
        return vc_qall(controller_, &slot);
      case kQSingle:
        return vc_qsingle(controller_, session.c_str(), &slot);
      case kDsCall:
        return vc_dscall(controller_, session.c_str(), member.c_str(),
                         static_cast<uint32_t>(Pick(kMaxDsCallSeconds + 1)), &slot);
      case kCommands:
        break;
    }
    return VC_ERROR_INTERNAL;
  }

  // One single outcome (anything but a QAll entry) of the slot's command.
  void Outcome(Slot* slot, OutcomeKind kind, ErrorText error, int32_t flowId) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!slot->busy) {
      ++tally_.strayCalls;
      return;
    }
    ++slot->outcomes;
    slot->kind = kind;
    slot->error = error;
    slot->flowId = flowId;
  }

  void Entry(Slot* slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!slot->busy) {
      ++tally_.strayCalls;
      return;
    }
    ++slot->entries;
    ++tally_.entries;
  }

  // The command is over: judge what it got, then free its slot.
  void Done(Slot* slot) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!slot->busy) {
        ++tally_.strayCalls;
        return;
      }
      ++tally_.done;
      Judge(*slot);
    }
    Release(slot, /*refused=*/false);
  }

  // Called with mutex_ held.
  void Judge(const Slot& slot) {
    if (slot.outcomes == 0 && slot.entries == 0) {
      ++tally_.noOutcome;
      return;
    }
    if (slot.outcomes + (slot.entries > 0 ? 1 : 0) > 1) {
      ++tally_.manyOutcomes;
      return;
    }
    const OutcomeKind kind = slot.entries > 0 ? kQAllEntries : slot.kind;
    ++tally_.outcomes[kind];
    if (kind == kError) ++tally_.errors[slot.error];
    if (!Fits(slot.command, kind, slot.flowId)) ++tally_.wrongKind;
  }

  static Slot* SlotOf(void* tag) { return static_cast<Slot*>(tag); }

  static void OnError(void*, void* tag, const char* text) {
    SlotOf(tag)->driver->Outcome(SlotOf(tag), kError, ErrorOf(text), 0);
  }
  static void OnCommandResult(void*, void* tag, int32_t flowId, int32_t, const char*) {
    SlotOf(tag)->driver->Outcome(SlotOf(tag), kResult, kOtherError, flowId);
  }
  static void OnQAllEmpty(void*, void* tag) {
    SlotOf(tag)->driver->Outcome(SlotOf(tag), kQAllEmpty, kOtherError, 0);
  }
  static void OnQAllEntry(void*, void* tag, const char* const*) {
    SlotOf(tag)->driver->Entry(SlotOf(tag));
  }
  static void OnQSingleResult(void*, void* tag, const char* const*) {
    SlotOf(tag)->driver->Outcome(SlotOf(tag), kQSingleResult, kOtherError, 0);
  }
  static void OnDone(void*, void* tag) { SlotOf(tag)->driver->Done(SlotOf(tag)); }

  const int index_;
  Load::Shared& shared_;
  vc_controller* controller_ = nullptr;
  std::thread thread_;

  mutable std::mutex mutex_;         // guards everything below
  std::condition_variable changed_;  // a slot was freed, or the state changed
  std::vector<Slot> slots_;
  int inFlight_ = 0;
  State state_ = State::kRunning;
  Tally tally_;
  std::mt19937 random_;  // the driver thread's alone
};

Load::Load(FaultTarget& target, const LoadOptions& options)
    : shared_(std::make_unique<Shared>(target, options)) {
  for (int i = 0; i < options.controllers; ++i) {
    drivers_.push_back(std::make_unique<Driver>(i, *shared_));
  }
}

Load::~Load() { Finish(); }

void Load::Start() {
  shared_->start = Clock::now();
  for (auto& driver : drivers_) driver->Start();
}

void Load::PlanPause(std::chrono::steady_clock::time_point at) {
  shared_->pauseAt = at.time_since_epoch().count();
}

void Load::Pause() {
  for (auto& driver : drivers_) driver->SetState(Driver::State::kPaused);
  for (auto& driver : drivers_) driver->WaitIdle();
}

void Load::Resume() {
  for (auto& driver : drivers_) driver->SetState(Driver::State::kRunning);
}

void Load::Finish() {
  for (auto& driver : drivers_) driver->Finish();
}

Tally Load::Totals() const {
  Tally total;
  for (const auto& driver : drivers_) total.Add(driver->Snapshot());
  return total;
}

int Load::InFlight() const {
  int total = 0;
  for (const auto& driver : drivers_) total += driver->InFlight();
  return total;
}

std::array<uint64_t, kFaultKinds> Load::FaultsQueued() const {
  std::array<uint64_t, kFaultKinds> counts{};
  for (size_t i = 0; i < counts.size(); ++i) counts[i] = shared_->faults[i].load();
  return counts;
}

}  // namespace soak
}  // namespace voicecontrol
