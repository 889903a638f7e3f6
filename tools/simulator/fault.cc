// Fault's words and factories.
#include <sstream>

#include <voicecontrol/testing/simulator.h>

namespace voicecontrol {
namespace testing {

// The words are those of voicectl serve's flags and of the admin
// interface's fields, so that a log line reads back as a command line.
std::string Fault::Describe() const {
  std::ostringstream out;
  if (delayMs > 0) out << " delay=" << delayMs;
  if (closeEarly) out << " close-early";
  if (noAnswer) out << " no-answer";
  if (status != 200) out << " status=" << status;
  if (http10) out << " http10";
  if (flowId) out << " flowid=" << *flowId;
  if (fieldNum) out << " fieldnum=" << *fieldNum;
  if (garbage) out << " garbage";
  if (oversize) out << " oversize";
  if (partial) out << " partial";
  if (resetBeforeHeaders) out << " reset-before-headers";
  if (resetAfterHeaders) out << " reset-after-headers";
  if (endMidBody) out << " end-mid-body";
  if (dribbleBytes > 0) out << " dribble=" << dribbleBytes << "/" << dribbleMs << "ms";
  if (bodyDelayMs > 0) out << " body-delay=" << bodyDelayMs;
  const std::string what = out.str();
  if (what.empty()) return "none";
  std::ostringstream limits;
  if (firstAttempts > 0) limits << " first=" << firstAttempts;
  if (probability < 1.0) limits << " probability=" << probability << " seed=" << seed;
  return what.substr(1) + limits.str();
}

namespace {
template <typename Set>
Fault Made(Set set) {
  Fault fault;
  set(fault);
  return fault;
}
}  // namespace

Fault Fault::Delay(int ms) { return Made([ms](Fault& f) { f.delayMs = ms; }); }
Fault Fault::CloseEarly() { return Made([](Fault& f) { f.closeEarly = true; }); }
Fault Fault::NoAnswer() { return Made([](Fault& f) { f.noAnswer = true; }); }
Fault Fault::Status(int code) { return Made([code](Fault& f) { f.status = code; }); }
Fault Fault::Http10() { return Made([](Fault& f) { f.http10 = true; }); }
Fault Fault::FlowId(int id) { return Made([id](Fault& f) { f.flowId = id; }); }
Fault Fault::FieldNum(int n) { return Made([n](Fault& f) { f.fieldNum = n; }); }
Fault Fault::Garbage() { return Made([](Fault& f) { f.garbage = true; }); }
Fault Fault::Oversize() { return Made([](Fault& f) { f.oversize = true; }); }
Fault Fault::Partial() { return Made([](Fault& f) { f.partial = true; }); }
Fault Fault::ResetBeforeHeaders() { return Made([](Fault& f) { f.resetBeforeHeaders = true; }); }
Fault Fault::ResetAfterHeaders() { return Made([](Fault& f) { f.resetAfterHeaders = true; }); }
Fault Fault::EndMidBody() { return Made([](Fault& f) { f.endMidBody = true; }); }
Fault Fault::Dribble(int bytes, int intervalMs) {
  return Made([bytes, intervalMs](Fault& f) {
    f.dribbleBytes = bytes < 1 ? 1 : bytes;
    f.dribbleMs = intervalMs;
  });
}
Fault Fault::DelayInBody(int ms) { return Made([ms](Fault& f) { f.bodyDelayMs = ms; }); }

Fault Fault::FailFirst(int attempts, Fault how) {
  how.firstAttempts = attempts;
  return how;
}

Fault Fault::WithProbability(double probability, uint64_t seed, Fault how) {
  how.probability = probability;
  how.seed = seed;
  return how;
}

}  // namespace testing
}  // namespace voicecontrol
