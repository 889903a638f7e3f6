#include "report.h"

#include <cstdio>
#include <string>

namespace voicecontrol {
namespace soak {

unsigned long long Count(uint64_t value) { return static_cast<unsigned long long>(value); }

const char* Mark(bool ok) { return ok ? "ok" : "FAILED"; }

int ExitStatus(bool ok) {
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}

bool JudgeOutcomes(const Tally& t) {
  const bool ok =
      t.Breaches() == 0 && t.refused == 0 && t.done == t.issued && t.Outcomes() == t.issued;
  std::printf(
      "  outcomes     %llu commands, %llu done, %llu outcomes: %llu without, %llu with "
      "several, %llu of another kind, %llu stray calls, %llu refused    %s\n",
      Count(t.issued), Count(t.done), Count(t.Outcomes()), Count(t.noOutcome),
      Count(t.manyOutcomes), Count(t.wrongKind), Count(t.strayCalls), Count(t.refused), Mark(ok));
  return ok;
}

bool JudgeFaults(const Tally& t, const std::array<uint64_t, kFaultKinds>& queued,
                 size_t leftInQueue) {
  std::array<uint64_t, kErrorTexts> expected{};
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    const ErrorText error = ExpectedError(static_cast<FaultKind>(kind));
    if (error != kErrorTexts) expected[error] += queued[static_cast<size_t>(kind)];
  }
  bool ok = leftInQueue == 0 && expected == t.errors;
  std::string detail;
  for (int i = 0; i < kErrorTexts; ++i) {
    if (expected[i] == 0 && t.errors[i] == 0) continue;
    detail += std::string(detail.empty() ? "" : ", ") + "\"" + kErrorTextNames[i] + "\" " +
              std::to_string(t.errors[i]) + " of " + std::to_string(expected[i]);
  }
  std::printf("  faults       errors seen of expected: %s; %zu left in the queue    %s\n",
              detail.c_str(), leftInQueue, Mark(ok));
  return ok;
}

void PrintTotals(const Tally& t, const std::array<uint64_t, kFaultKinds>& queued, double seconds) {
  static const char* const kCommandNames[kCommands] = {"create", "kick",    "change",
                                                       "qall",   "qsingle", "dscall"};
  std::printf("commands:");
  for (int i = 0; i < kCommands; ++i) {
    std::printf(" %s %llu", kCommandNames[i], Count(t.byCommand[i]));
  }
  std::printf("; %.0f per second; %llu QAll entries in all\n",
              seconds > 0 ? static_cast<double>(t.done) / seconds : 0.0, Count(t.entries));
  uint64_t total = 0;
  for (uint64_t count : queued) total += count;
  std::printf(
      "faults queued (%llu, %.1f%% of commands):", Count(total),
      t.issued > 0 ? 100.0 * static_cast<double>(total) / static_cast<double>(t.issued) : 0.0);
  for (int i = 0; i < kFaultKinds; ++i) {
    std::printf(" %s %llu", kFaultNames[i], Count(queued[i]));
  }
  std::printf("\n");
}

}  // namespace soak
}  // namespace voicecontrol
