// Cassettes: what `voicectl record` saw pass between clients and a real
// server, one exchange a line, and how `voicectl serve --replay` answers
// from them. The format and the matching rule are in docs/simulator-admin.md
// ("Recording a server, replaying it").
#ifndef VOICECONTROL_TOOLS_SIMULATOR_CASSETTE_CASSETTE_H_
#define VOICECONTROL_TOOLS_SIMULATOR_CASSETTE_CASSETTE_H_

#include <cstdint>
#include <deque>
#include <istream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <voicecontrol/testing/simulator.h>

namespace voicecontrol {
namespace testing {

// One request and the upstream's answer to it.
struct CassetteExchange {
  uint64_t number = 0;       // arrival order at the recorder, from 1
  std::string request;       // the bytes the client sent
  std::string answer;        // the bytes the upstream sent, however it ended
  int64_t arrivedAtMs = 0;   // when the request was read whole, ms since 1970
  // From forwarding the request to the upstream's first answer byte; none
  // when it sent nothing.
  std::optional<int64_t> firstByteMs;
  int64_t upstreamMs = 0;    // from forwarding the request to the upstream's end
  RecordedAnswer::End end = RecordedAnswer::End::kClose;
};

// The exchange as one JSON object, without the line end.
std::string CassetteLine(const CassetteExchange& exchange);
// Reads one line; throws std::runtime_error saying what is wrong.
CassetteExchange ReadCassetteLine(const std::string& line);

// What a request is matched on: its method, FlowID, FieldNum and values,
// but not its Seq_No, nor DSCALL's end time (the library makes it from the
// clock, so it never repeats).
std::string MatchKey(const ReceivedRequest& request);

// `answer` with the Seq_No element of its body set to `seqNo` and its
// Content-Length header following the change; unchanged when it holds no
// whole Seq_No element.
std::string RewriteSeqNo(const std::string& answer, int seqNo);

// The answers of a cassette, each given once.
class Cassette {
 public:
  // Reads every line of `in` (empty lines are skipped); throws
  // std::runtime_error "NAME:LINE: reason" for one that is not an exchange.
  Cassette(std::istream& in, const std::string& name);

  // The next exchange not yet given whose request matches `request`, its
  // answer's Seq_No set to the request's; none when every match is used.
  // Thread-safe.
  std::optional<RecordedAnswer> Take(const ReceivedRequest& request);

  size_t size() const { return exchanges_.size(); }

 private:
  std::vector<CassetteExchange> exchanges_;  // in arrival order
  std::mutex mutex_;
  std::map<std::string, std::deque<size_t>> unused_;  // by MatchKey, oldest first
};

// The answer under --strict to a request the cassette has nothing (left)
// for: 404 Not Found, a plain-text body naming the request.
RecordedAnswer UnmatchedAnswer(const ReceivedRequest& request);

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_CASSETTE_CASSETTE_H_
