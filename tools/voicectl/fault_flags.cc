#include "fault_flags.h"

#include <cstdint>
#include <cstdlib>
#include <ostream>

#include "client.h"

namespace voicectl {

namespace {

using voicecontrol::testing::Fault;

// The ranges are the admin interface's for the same fields.
bool ReadInt(const std::string& text, const char* name, int64_t min, int64_t max, int64_t* value,
             std::ostream& err) {
  if (text.empty()) return true;
  const auto parsed = ParseInteger(text, min, max);
  if (!parsed) {
    err << "voicectl serve: " << name << " must be a whole number from " << min << " to " << max
        << ", got \"" << text << "\"\n";
    return false;
  }
  *value = *parsed;
  return true;
}

}  // namespace

void AddFaultFlags(CLI::App* serve, Fault* fault, FaultNumbers* numbers) {
  serve->add_flag("--reset-before-headers", fault->resetBeforeHeaders,
                  "reset the connection (RST) instead of answering");
  serve->add_flag("--reset-after-headers", fault->resetAfterHeaders,
                  "send the header block, then reset the connection");
  serve->add_flag("--end-mid-body", fault->endMidBody,
                  "send the header block and half the body, then close");
  CLI::Option* dribble =
      serve->add_option("--dribble", numbers->dribble,
                        "send the answer BYTES (1 to 65536) at a time")
          ->type_name("BYTES");
  serve->add_option("--dribble-ms", numbers->dribbleMs,
                    "with --dribble: wait MS milliseconds between two pieces")
      ->type_name("MS")
      ->needs(dribble);
  serve->add_option("--body-delay", numbers->bodyDelay,
                    "wait MS milliseconds after the header block and half the body")
      ->type_name("MS");
  serve->add_option("--fail-first", numbers->failFirst,
                    "the other fault flags apply to the first N answers only, then answers "
                    "are correct")
      ->type_name("N");
  CLI::Option* probability =
      serve->add_option("--probability", numbers->probability,
                        "the other fault flags apply to this share of the answers, 0 to 1, "
                        "drawn from --seed")
          ->type_name("P");
  serve->add_option("--seed", numbers->seed,
                    "with --probability: the seed of the draws (the same seed, the same "
                    "answers; default 0)")
      ->type_name("N")
      ->needs(probability);
}

bool ReadFaultNumbers(const FaultNumbers& numbers, Fault* fault, std::ostream& err) {
  int64_t dribble = 0, dribbleMs = 0, bodyDelay = 0, failFirst = 0, seed = 0;
  if (!ReadInt(numbers.dribble, "--dribble", 1, 65536, &dribble, err) ||
      !ReadInt(numbers.dribbleMs, "--dribble-ms", 0, 600000, &dribbleMs, err) ||
      !ReadInt(numbers.bodyDelay, "--body-delay", 0, 600000, &bodyDelay, err) ||
      !ReadInt(numbers.failFirst, "--fail-first", 0, INT32_MAX, &failFirst, err) ||
      !ReadInt(numbers.seed, "--seed", 0, INT64_MAX, &seed, err)) {
    return false;
  }
  fault->dribbleBytes = static_cast<int>(dribble);
  fault->dribbleMs = static_cast<int>(dribbleMs);
  fault->bodyDelayMs = static_cast<int>(bodyDelay);
  fault->firstAttempts = static_cast<int>(failFirst);
  fault->seed = static_cast<uint64_t>(seed);
  if (!numbers.probability.empty()) {
    char* end = nullptr;
    const double p = std::strtod(numbers.probability.c_str(), &end);
    // Written out, not "nan" or "1e0x": strtod takes more than people mean.
    if (*end != '\0' || !(p >= 0.0 && p <= 1.0) ||
        numbers.probability.find_first_not_of("0123456789.") != std::string::npos) {
      err << "voicectl serve: --probability must be a number from 0 to 1, got \""
          << numbers.probability << "\"\n";
      return false;
    }
    fault->probability = p;
  }
  return true;
}

}  // namespace voicectl
