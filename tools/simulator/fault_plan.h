// How the simulator's next answers misbehave: what is set for a request's
// number, the queues per command kind and of any kind, the scenarios per
// kind and the standing fault, consulted in that order. SimulatedServer's
// member functions are its only door; the admin interface goes through them.
#ifndef VOICECONTROL_TOOLS_SIMULATOR_FAULT_PLAN_H_
#define VOICECONTROL_TOOLS_SIMULATOR_FAULT_PLAN_H_

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <voicecontrol/testing/simulator.h>

namespace voicecontrol {
namespace testing {

// What one answer is made of: how it misbehaves, and a scripted body or
// (empty) the model's answer.
struct Reply {
  Fault fault;
  std::optional<std::string> body;
};

class FaultPlan {
 public:
  FaultPlan() : standing_(MakeRule(Reply{}, 0)) {}

  // `method` "" queues for any kind.
  void Queue(const std::string& method, Reply reply, int count);
  void ForRequest(uint64_t number, Reply reply);
  void SetScenario(const std::string& method, const std::vector<ScenarioStep>& steps);
  void ClearScenarios();
  void SetStanding(const Fault& fault);
  Fault Standing() const;
  size_t QueuedCount() const;
  void ClearQueues();
  void Reset();

  // The reply for request `number` of kind `method`, used up where it came
  // from; a fault's firstAttempts and probability already judged.
  Reply Take(const std::string& method, uint64_t number);
  std::vector<PlannedAnswer> Planned() const;

 private:
  // A reply set up ahead: how many more answers it shapes (0: every one),
  // and what its fault's firstAttempts and probability have used so far.
  struct Rule {
    Reply reply;
    int remaining = 0;
    int step = 0;  // a scenario step's place, from 1
    int used = 0;
    std::mt19937_64 draws;
  };
  static Rule MakeRule(Reply reply, int remaining, int step = 0);
  static Reply Use(Rule* rule);
  static Reply TakeFront(std::deque<Rule>* rules);
  static PlannedAnswer Describe(const Rule& rule, std::string target);

  mutable std::mutex mutex_;
  std::map<uint64_t, Rule> byNumber_;
  std::map<std::string, std::deque<Rule>> byKind_;
  std::deque<Rule> any_;
  std::map<std::string, std::deque<Rule>> scenarios_;
  Rule standing_;
};

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_FAULT_PLAN_H_
