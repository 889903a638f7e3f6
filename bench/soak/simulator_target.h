// The soak's load against an in-process SimulatedServer: a fault is queued
// in the simulator for the next answer.
#ifndef VOICECONTROL_BENCH_SOAK_SIMULATOR_TARGET_H_
#define VOICECONTROL_BENCH_SOAK_SIMULATOR_TARGET_H_

#include <voicecontrol/testing/simulator.h>

#include <random>

#include "load.h"

namespace voicecontrol {
namespace soak {

// The simulator's fault of each kind (a delay of a few milliseconds drawn
// from `random`).
testing::Fault FaultOf(FaultKind kind, std::mt19937& random);

// The simulator's queue is one for all connections, so a fault shapes
// whichever answer comes next, not necessarily that of the command it was
// queued for: the counts still match, since every request takes one answer.
class SimulatorTarget : public FaultTarget {
 public:
  explicit SimulatorTarget(testing::SimulatedServer& server) : server_(server) {}
  bool Aim(vc_controller* controller) override;
  void Arrange(vc_controller* controller, FaultKind kind, std::mt19937& random) override;

 private:
  testing::SimulatedServer& server_;
};

// Grows the simulator's pool of connection threads to `connections` before
// the load starts: that many commands at once, each answered after a delay,
// in one round with a plain answer and one round for each fault kind. The
// pool never shrinks, and a thread it adds later, at a new peak of
// connections, or a thread's stack deepened by its first fault of a kind,
// would pass for growth of the library's. Returns the fewest commands of a
// round that were issued (all of them, unless something is wrong).
int PrimeServer(testing::SimulatedServer& server, int connections);

}  // namespace soak
}  // namespace voicecontrol

#endif  // VOICECONTROL_BENCH_SOAK_SIMULATOR_TARGET_H_
