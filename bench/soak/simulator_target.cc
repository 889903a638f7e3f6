#include "simulator_target.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>

namespace voicecontrol {
namespace soak {

using testing::Fault;

namespace {

constexpr int kMaxDelayMs = 50;

}  // namespace

Fault FaultOf(FaultKind kind, std::mt19937& random) {
  switch (kind) {
    case kDelay:
      return Fault::Delay(std::uniform_int_distribution<int>(1, kMaxDelayMs)(random));
    case kCloseEarly:
      return Fault::CloseEarly();
    case kNoAnswer:
      return Fault::NoAnswer();
    case kStatusUnknown:
      return Fault::Status(299);
    case kStatusKnown:
      return Fault::Status(500);
    case kHttp10:
      return Fault::Http10();
    case kFlowId:
      return Fault::FlowId(2000);
    case kFieldNum:
      return Fault::FieldNum(0);
    case kGarbage:
      return Fault::Garbage();
    case kOversize:
      return Fault::Oversize();
    case kPartial:
      return Fault::Partial();
    case kFaultKinds:
      break;
  }
  return Fault();
}

bool SimulatorTarget::Aim(vc_controller* controller) {
  return vc_set_server(controller, server_.address().c_str(), server_.port()) == VC_OK;
}

void SimulatorTarget::Arrange(vc_controller*, FaultKind kind, std::mt19937& random) {
  if (kind != kFaultKinds) server_.QueueFault(FaultOf(kind, random));
}

namespace {

struct PrimeCount {
  std::mutex mutex;
  std::condition_variable changed;
  int done = 0;
};

void OnPrimeDone(void* user, void*) {
  auto* count = static_cast<PrimeCount*>(user);
  {
    std::lock_guard<std::mutex> lock(count->mutex);
    ++count->done;
  }
  count->changed.notify_all();
}

// One round of `connections` commands at once, each answered after a delay
// and then shaped by `fault`: every connection thread takes one of them.
int PrimeRound(vc_controller* controller, testing::SimulatedServer& server, int connections,
               Fault fault, PrimeCount* count) {
  constexpr int kHoldMs = 500;  // long enough for every connection to be taken at once
  fault.delayMs = std::max(fault.delayMs, kHoldMs);
  server.QueueFault(fault, connections);
  int issued = 0;
  for (int i = 0; i < connections; ++i) {
    if (vc_qsingle(controller, "prime", nullptr) == VC_OK) ++issued;
  }
  std::unique_lock<std::mutex> lock(count->mutex);
  count->changed.wait(lock, [&] { return count->done == issued; });
  count->done = 0;
  return issued;
}

}  // namespace

int PrimeServer(testing::SimulatedServer& server, int connections) {
  PrimeCount count;
  vc_callbacks callbacks{};
  callbacks.on_done = &OnPrimeDone;
  vc_controller* controller = vc_controller_create(&callbacks, &count);
  if (controller == nullptr) return 0;
  const std::string address = server.address();
  int fewest = 0;
  if (vc_set_server(controller, address.c_str(), server.port()) == VC_OK) {
    // A plain answer first, then every fault: each path a connection thread
    // can take leaves its stack as deep as it will ever be, so that a thread
    // meeting a fault for the first time later does not pass for growth.
    std::mt19937 random(1);
    fewest = PrimeRound(controller, server, connections, Fault(), &count);
    for (int kind = 0; kind < kFaultKinds; ++kind) {
      const Fault fault = FaultOf(static_cast<FaultKind>(kind), random);
      fewest = std::min(fewest, PrimeRound(controller, server, connections, fault, &count));
    }
  }
  vc_controller_destroy(controller);
  server.ClearQueue();  // the faults of commands that were not issued
  return fewest;
}

}  // namespace soak
}  // namespace voicecontrol
