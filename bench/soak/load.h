// The soak's load: several controllers, each driven by a thread of its own
// that keeps a few commands in flight against a server, with a fault
// arranged for a share of the requests (FaultTarget says how).
//
// Every command is issued through the C interface with a tag of its own: a
// slot of its driver that stays taken until on_done. So each callback is
// counted against the one command it belongs to, and a command that ends
// with no outcome, two outcomes, or the outcome of another kind of command
// is seen and counted, never lost in a total.
#ifndef VOICECONTROL_BENCH_SOAK_LOAD_H_
#define VOICECONTROL_BENCH_SOAK_LOAD_H_

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <voicecontrol/voicecontrol.h>

namespace voicecontrol {
namespace soak {

enum Command { kCreate, kKick, kChange, kQAll, kQSingle, kDsCall, kCommands };

// How a command ended. A QAll answer of n >= 1 entries is one outcome.
enum OutcomeKind { kResult, kQAllEmpty, kQAllEntries, kQSingleResult, kError, kOutcomeKinds };
extern const char* const kOutcomeNames[kOutcomeKinds];

// The library's error texts, and anything else as kOtherError.
enum ErrorText {
  kTimeout,
  kDecode,
  kBadMessage,
  kParamError,
  kInitHttpParse,
  kSocketError,
  kConnectError,
  kSendError,
  kOtherError,
  kErrorTexts
};
extern const char* const kErrorTextNames[kErrorTexts];

// The faults queued, one kind per simulator fault mode (status twice: a code
// outside the HTTP table, which fails, and one inside, which does not).
enum FaultKind {
  kDelay,
  kCloseEarly,
  kNoAnswer,
  kStatusUnknown,
  kStatusKnown,
  kHttp10,
  kFlowId,
  kFieldNum,
  kGarbage,
  kOversize,
  kPartial,
  kFaultKinds
};
extern const char* const kFaultNames[kFaultKinds];
// The error a fault of this kind gives whatever the command; kErrorTexts
// when the answer is still a correct one.
ErrorText ExpectedError(FaultKind kind);

// What the commands of one or more drivers came to, so far.
struct Tally {
  uint64_t issued = 0;   // commands handed to the library
  uint64_t refused = 0;  // of those, not taken (not VC_OK): no outcome is due
  uint64_t done = 0;     // on_done calls
  std::array<uint64_t, kCommands> byCommand{};
  std::array<uint64_t, kOutcomeKinds> outcomes{};
  std::array<uint64_t, kErrorTexts> errors{};
  uint64_t entries = 0;  // QAll entries in all
  // Breaches of "exactly one outcome, of the command's own kind".
  uint64_t noOutcome = 0;     // on_done without any outcome before it
  uint64_t manyOutcomes = 0;  // more than one outcome (or entries mixed with another)
  uint64_t wrongKind = 0;     // e.g. a QSingle answer to a Kick, a result of the wrong FlowID
  uint64_t strayCalls = 0;    // a callback or on_done for a command no longer in flight

  void Add(const Tally& other);
  uint64_t Outcomes() const;
  uint64_t Breaches() const { return noOutcome + manyOutcomes + wrongKind + strayCalls; }
};

struct LoadOptions {
  int controllers = 6;
  int depth = 4;                // commands in flight per controller, at most
  double faultShare = 0.1;      // share of commands preceded by a quick fault
  int slowFaultEveryMs = 2000;  // one fault that costs the 5-second time-out, this often
  unsigned seed = 1;
};

// Where the drivers' commands go, and how one of them meets a fault: an
// in-process simulator queues the fault for the next answer
// (simulator_target.h), a row of servers that each answer with one fault
// takes the command to the right one (fault_soak.cc).
class FaultTarget {
 public:
  virtual ~FaultTarget() = default;
  // Points a new controller at the server; false when that failed.
  virtual bool Aim(vc_controller* controller) = 0;
  // Called by the thread that issues `controller`'s commands, just before
  // the next one: a fault of `kind` is to shape an answer, or none when
  // `kind` is kFaultKinds. `random` is that thread's own.
  virtual void Arrange(vc_controller* controller, FaultKind kind, std::mt19937& random) = 0;
};

class Driver;

class Load {
 public:
  Load(FaultTarget& target, const LoadOptions& options);
  ~Load();  // Finish()
  Load(const Load&) = delete;
  Load& operator=(const Load&) = delete;

  // Starts every driver.
  void Start();
  // Tells when the next Pause will come: no slow fault is queued from 6
  // seconds before it until the next one is planned, so that the pause does
  // not wait for a time-out.
  void PlanPause(std::chrono::steady_clock::time_point at);
  // Stops issuing; returns once no command is in flight (up to the 5-second
  // time-out of the slowest, when one is in flight after all).
  void Pause();
  void Resume();
  // Stops for good, waits for the commands in flight, destroys the
  // controllers and joins the drivers. Idempotent.
  void Finish();

  Tally Totals() const;
  int InFlight() const;
  // Faults queued so far, by kind.
  std::array<uint64_t, kFaultKinds> FaultsQueued() const;

  struct Shared;

 private:
  std::unique_ptr<Shared> shared_;
  std::vector<std::unique_ptr<Driver>> drivers_;
};

}  // namespace soak
}  // namespace voicecontrol

#endif  // VOICECONTROL_BENCH_SOAK_LOAD_H_
