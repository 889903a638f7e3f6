#include "fault_plan.h"

#include <utility>

namespace voicecontrol {
namespace testing {

namespace {

// A draw in [0, 1) from the top 53 bits: the engine's output is the same on
// every platform, so a seed gives the same faults everywhere (the standard
// distributions may differ between libraries).
double Draw(std::mt19937_64* draws) { return static_cast<double>((*draws)() >> 11) * 0x1.0p-53; }

}  // namespace

FaultPlan::Rule FaultPlan::MakeRule(Reply reply, int remaining, int step) {
  Rule rule;
  rule.draws.seed(reply.fault.seed);
  rule.reply = std::move(reply);
  rule.remaining = remaining;
  rule.step = step;
  return rule;
}

// A fault limited to its first attempts or to a share of the answers gives
// a correct answer when it does not apply; the count and the draw happen
// either way, so that the sequence depends on the seed alone.
Reply FaultPlan::Use(Rule* rule) {
  const Fault& fault = rule->reply.fault;
  ++rule->used;
  const bool beyondFirst = fault.firstAttempts > 0 && rule->used > fault.firstAttempts;
  const bool drawnOut = fault.probability < 1.0 && !(Draw(&rule->draws) < fault.probability);
  if (beyondFirst || drawnOut) return Reply{};
  return rule->reply;
}

Reply FaultPlan::TakeFront(std::deque<Rule>* rules) {
  Rule& front = rules->front();
  Reply reply = Use(&front);
  if (front.remaining > 0 && --front.remaining == 0) rules->pop_front();
  return reply;
}

void FaultPlan::Queue(const std::string& method, Reply reply, int count) {
  if (count <= 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  (method.empty() ? any_ : byKind_[method]).push_back(MakeRule(std::move(reply), count));
}

void FaultPlan::ForRequest(uint64_t number, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  byNumber_.insert_or_assign(number, MakeRule(std::move(reply), 1));
}

void FaultPlan::SetScenario(const std::string& method, const std::vector<ScenarioStep>& steps) {
  std::deque<Rule> rules;
  for (const ScenarioStep& step : steps) {
    rules.push_back(MakeRule(Reply{step.fault, step.body}, step.times < 0 ? 0 : step.times,
                             static_cast<int>(rules.size()) + 1));
    if (step.times <= 0) break;  // a step for every answer ends the sequence
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (rules.empty()) {
    scenarios_.erase(method);
  } else {
    scenarios_[method] = std::move(rules);
  }
}

void FaultPlan::ClearScenarios() {
  std::lock_guard<std::mutex> lock(mutex_);
  scenarios_.clear();
}

void FaultPlan::SetStanding(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  standing_ = MakeRule(Reply{fault, std::nullopt}, 0);
}

Fault FaultPlan::Standing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return standing_.reply.fault;
}

size_t FaultPlan::QueuedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t total = byNumber_.size();
  for (const Rule& rule : any_) total += static_cast<size_t>(rule.remaining);
  for (const auto& kind : byKind_) {
    for (const Rule& rule : kind.second) total += static_cast<size_t>(rule.remaining);
  }
  return total;
}

void FaultPlan::ClearQueues() {
  std::lock_guard<std::mutex> lock(mutex_);
  byNumber_.clear();
  byKind_.clear();
  any_.clear();
}

void FaultPlan::Reset() {
  ClearQueues();
  ClearScenarios();
  SetStanding(Fault());
}

Reply FaultPlan::Take(const std::string& method, uint64_t number) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto numbered = byNumber_.find(number);
  if (numbered != byNumber_.end()) {
    Reply reply = Use(&numbered->second);
    byNumber_.erase(numbered);
    return reply;
  }
  const auto kind = byKind_.find(method);
  if (kind != byKind_.end() && !kind->second.empty()) return TakeFront(&kind->second);
  if (!any_.empty()) return TakeFront(&any_);
  const auto scenario = scenarios_.find(method);
  if (scenario != scenarios_.end() && !scenario->second.empty()) {
    return TakeFront(&scenario->second);
  }
  return Use(&standing_);
}

PlannedAnswer FaultPlan::Describe(const Rule& rule, std::string target) {
  PlannedAnswer planned;
  planned.target = std::move(target);
  planned.fault = rule.reply.fault;
  planned.scripted = rule.reply.body.has_value();
  planned.remaining = rule.remaining;
  return planned;
}

std::vector<PlannedAnswer> FaultPlan::Planned() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<PlannedAnswer> planned;
  for (const auto& numbered : byNumber_) {
    planned.push_back(Describe(numbered.second, "request " + std::to_string(numbered.first)));
  }
  for (const auto& kind : byKind_) {
    for (const Rule& rule : kind.second) planned.push_back(Describe(rule, "next " + kind.first));
  }
  for (const Rule& rule : any_) planned.push_back(Describe(rule, "next"));
  for (const auto& scenario : scenarios_) {
    for (const Rule& rule : scenario.second) {
      planned.push_back(Describe(
          rule, "scenario " + scenario.first + " step " + std::to_string(rule.step)));
    }
  }
  if (standing_.reply.fault.Describe() != "none") {
    planned.push_back(Describe(standing_, "standing"));
  }
  return planned;
}

}  // namespace testing
}  // namespace voicecontrol
