// The simulator's in-memory voice server: a table of sessions that the six
// commands create, change, list and end, so that successive answers agree
// with each other. Result codes and texts are this simulator's convention.
#ifndef VOICECONTROL_TOOLS_SIMULATOR_SESSION_MODEL_H_
#define VOICECONTROL_TOOLS_SIMULATOR_SESSION_MODEL_H_

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <voicecontrol/testing/simulator.h>

namespace voicecontrol {
namespace testing {

// What the server answers to one command: the FlowID and the field values.
struct Answer {
  int flowId = 0;
  std::vector<std::wstring> values;
};

// Result codes carried as the first value of CREATE, KICK, CHANGE and DSCALL answers.
enum ResultCode {
  kOk = 0,
  kSessionExists = 1,
  kNoSuchSession = 2,
  kBadArguments = 3,
  kNoSuchMember = 4,
};

class SessionModel {
 public:
  using Clock = std::chrono::system_clock;

  // Handles one command by its method name ("CREATE", ...) and field values.
  // Unknown methods are answered with FlowID 0, which a client reports as a
  // bad message. Thread-safe, like every operation here.
  Answer Handle(const std::string& method, const std::vector<std::wstring>& values,
                Clock::time_point now);

  size_t SessionCount();

  // Seeding and inspection. Add replaces a session of the same id; an end
  // time that is not "YYYY-MM-DD hh:mm:ss" is kept as text and never ends it.
  void Add(const Session& session);
  std::vector<Session> All();
  std::optional<Session> Find(const std::wstring& id);
  void Clear();

 private:
  struct Entry {
    Session session;
    Clock::time_point endsAt = Clock::time_point::max();
  };

  Answer Create(const std::vector<std::wstring>& v, Clock::time_point now);
  Answer Kick(const std::vector<std::wstring>& v);
  Answer Change(const std::vector<std::wstring>& v);
  Answer QAll();
  Answer QSingle(const std::vector<std::wstring>& v);
  Answer DsCall(const std::vector<std::wstring>& v, Clock::time_point now);
  void EndExpiredSessions(Clock::time_point now);
  static std::vector<std::wstring> Describe(const Session& s);

  std::mutex mutex_;
  std::map<std::wstring, Entry> sessions_;
};

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_SESSION_MODEL_H_
