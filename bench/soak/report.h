// What a soak prints about its load, and the verdicts that do not depend on
// where the load ran: every command exactly one outcome, every fault the
// error it stands for.
#ifndef VOICECONTROL_BENCH_SOAK_REPORT_H_
#define VOICECONTROL_BENCH_SOAK_REPORT_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "load.h"

namespace voicecontrol {
namespace soak {

unsigned long long Count(uint64_t value);
// "ok" or "FAILED", at the end of a verdict line.
const char* Mark(bool ok);

// Prints the last line, PASS or FAIL; returns the exit status, 0 or 1.
int ExitStatus(bool ok);
// The commands by kind, their rate, and the faults arranged.
void PrintTotals(const Tally& t, const std::array<uint64_t, kFaultKinds>& queued, double seconds);
// Every command issued got exactly one outcome, of its own kind.
bool JudgeOutcomes(const Tally& t);
// Every arranged fault gave the error it stands for, and no other error
// came; none was left queued and unused.
bool JudgeFaults(const Tally& t, const std::array<uint64_t, kFaultKinds>& queued,
                 size_t leftInQueue);

}  // namespace soak
}  // namespace voicecontrol

#endif  // VOICECONTROL_BENCH_SOAK_REPORT_H_
