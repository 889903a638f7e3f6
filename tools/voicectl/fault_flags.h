// voicectl serve's flags for the faults beyond the first ten: resets, an
// answer cut or spread out, and limits on how often a fault applies.
#ifndef VOICECTL_FAULT_FLAGS_H_
#define VOICECTL_FAULT_FLAGS_H_

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <string>

#include <voicecontrol/testing/simulator.h>

namespace voicectl {

// The numbers as typed: read once parsing is done, so that a bad one is
// reported with its name and range, as the other flags' are.
struct FaultNumbers {
  std::string dribble, dribbleMs, bodyDelay, failFirst, probability, seed;
};

// Adds the flags to `serve`; the plain ones set `fault` directly.
void AddFaultFlags(CLI::App* serve, voicecontrol::testing::Fault* fault, FaultNumbers* numbers);

// Reads the numbers given into `fault`; false after a message on `err`.
bool ReadFaultNumbers(const FaultNumbers& numbers, voicecontrol::testing::Fault* fault,
                      std::ostream& err);

}  // namespace voicectl

#endif  // VOICECTL_FAULT_FLAGS_H_
