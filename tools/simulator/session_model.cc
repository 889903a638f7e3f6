#include "session_model.h"

#include <algorithm>
#include <ctime>
#include <cwchar>

namespace voicecontrol {
namespace testing {

namespace {

constexpr int kCreateFlow = 1001, kKickFlow = 1002, kChangeFlow = 1003, kQAllFlow = 1004,
              kQSingleFlow = 1005, kDsCallFlow = 1006;

Answer Result(int flowId, ResultCode code, const wchar_t* text) {
  return Answer{flowId, {std::to_wstring(static_cast<int>(code)), text}};
}

// Parses "YYYY-MM-DD hh:mm:ss" in local time; false if it is not that shape.
bool ParseLocalTime(const std::wstring& text, SessionModel::Clock::time_point* out) {
  std::tm tm{};
  wchar_t tail = 0;
  if (std::swscanf(text.c_str(), L"%4d-%2d-%2d %2d:%2d:%2d%lc", &tm.tm_year, &tm.tm_mon,
                   &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &tail) != 6) {
    return false;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return false;
  *out = SessionModel::Clock::from_time_t(t);
  return true;
}

// Every item followed by a comma, the list form the QALL answer uses. A
// comma inside an item would split it in two on the client, so it is sent
// as a semicolon.
std::wstring JoinTerminated(const std::vector<std::wstring>& items) {
  std::wstring out;
  for (std::wstring item : items) {
    std::replace(item.begin(), item.end(), L',', L';');
    out += item + L",";
  }
  return out;
}

}  // namespace

Answer SessionModel::Handle(const std::string& method, const std::vector<std::wstring>& values,
                            Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  EndExpiredSessions(now);
  if (method == "CREATE") return Create(values, now);
  if (method == "KICK") return Kick(values);
  if (method == "CHANGE") return Change(values);
  if (method == "QALL") return QAll();
  if (method == "QSINGLE") return QSingle(values);
  if (method == "DSCALL") return DsCall(values, now);
  return Answer{};
}

size_t SessionModel::SessionCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

void SessionModel::Add(const Session& session) {
  Entry entry{session};
  Clock::time_point endsAt;
  if (!session.endTime.empty() && ParseLocalTime(session.endTime, &endsAt)) entry.endsAt = endsAt;
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_[session.id] = std::move(entry);
}

std::vector<Session> SessionModel::All() {
  std::lock_guard<std::mutex> lock(mutex_);
  EndExpiredSessions(Clock::now());
  std::vector<Session> all;
  for (const auto& entry : sessions_) all.push_back(entry.second.session);
  return all;
}

std::optional<Session> SessionModel::Find(const std::wstring& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  EndExpiredSessions(Clock::now());
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return std::nullopt;
  return it->second.session;
}

void SessionModel::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
}

Answer SessionModel::Create(const std::vector<std::wstring>& v, Clock::time_point now) {
  if (v.size() < 4 || v[0].empty()) return Result(kCreateFlow, kBadArguments, L"bad arguments");
  if (sessions_.count(v[0]) != 0) return Result(kCreateFlow, kSessionExists, L"session exists");
  Entry entry;
  Session& s = entry.session;
  s.id = v[0];
  s.owner = v[1];
  s.title = v[2];
  s.members = v[3];
  s.createdAt = now;
  sessions_.emplace(v[0], std::move(entry));
  return Result(kCreateFlow, kOk, L"created");
}

Answer SessionModel::Kick(const std::vector<std::wstring>& v) {
  if (v.size() < 2) return Result(kKickFlow, kBadArguments, L"bad arguments");
  auto it = sessions_.find(v[0]);
  if (it == sessions_.end()) return Result(kKickFlow, kNoSuchSession, L"no such session");
  std::vector<std::wstring>& kicked = it->second.session.kicked;
  if (std::find(kicked.begin(), kicked.end(), v[1]) != kicked.end()) {
    return Result(kKickFlow, kNoSuchMember, L"already kicked");
  }
  kicked.push_back(v[1]);
  return Result(kKickFlow, kOk, L"kicked");
}

Answer SessionModel::Change(const std::vector<std::wstring>& v) {
  if (v.size() < 3) return Result(kChangeFlow, kBadArguments, L"bad arguments");
  auto it = sessions_.find(v[0]);
  if (it == sessions_.end()) return Result(kChangeFlow, kNoSuchSession, L"no such session");
  it->second.session.changedMember = v[1];
  it->second.session.changedValue = v[2];
  return Result(kChangeFlow, kOk, L"changed");
}

// The eight lists hold, per session in id order: id, owner, title, members,
// kicked count, last changed member, last changed value, end time.
Answer SessionModel::QAll() {
  std::vector<std::vector<std::wstring>> lists(8);
  for (const auto& entry : sessions_) {
    const Session& s = entry.second.session;
    const std::wstring columns[8] = {s.id,
                                     s.owner,
                                     s.title,
                                     s.members,
                                     std::to_wstring(s.kicked.size()),
                                     s.changedMember,
                                     s.changedValue,
                                     s.endTime};
    for (int k = 0; k < 8; ++k) lists[k].push_back(columns[k]);
  }
  Answer answer{kQAllFlow, {std::to_wstring(sessions_.size())}};
  for (const auto& list : lists) answer.values.push_back(JoinTerminated(list));
  return answer;
}

Answer SessionModel::QSingle(const std::vector<std::wstring>& v) {
  if (v.empty()) return Answer{kQSingleFlow, std::vector<std::wstring>(18)};
  auto it = sessions_.find(v[0]);
  if (it == sessions_.end()) {
    std::vector<std::wstring> values(18);
    values[0] = v[0];
    values[1] = L"no such session";
    return Answer{kQSingleFlow, values};
  }
  return Answer{kQSingleFlow, Describe(it->second.session)};
}

Answer SessionModel::DsCall(const std::vector<std::wstring>& v, Clock::time_point now) {
  if (v.size() < 3) return Result(kDsCallFlow, kBadArguments, L"bad arguments");
  auto it = sessions_.find(v[0]);
  if (it == sessions_.end()) return Result(kDsCallFlow, kNoSuchSession, L"no such session");
  Clock::time_point endsAt;
  if (!ParseLocalTime(v[2], &endsAt)) return Result(kDsCallFlow, kBadArguments, L"bad end time");
  if (endsAt < now) endsAt = now;
  it->second.session.endTime = v[2];
  it->second.endsAt = endsAt;
  return Result(kDsCallFlow, kOk, L"scheduled");
}

void SessionModel::EndExpiredSessions(Clock::time_point now) {
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = it->second.endsAt <= now ? sessions_.erase(it) : std::next(it);
  }
}

// The eighteen QSINGLE values: the id, "found", the other three CREATE
// values, the kicked members as one comma-terminated list and their count,
// the last change (member, value), the end time, the creation time in
// seconds since 1970, then empty padding.
std::vector<std::wstring> SessionModel::Describe(const Session& s) {
  const auto created =
      std::chrono::duration_cast<std::chrono::seconds>(s.createdAt.time_since_epoch());
  std::vector<std::wstring> values = {s.id,
                                      L"found",
                                      s.owner,
                                      s.title,
                                      s.members,
                                      JoinTerminated(s.kicked),
                                      std::to_wstring(s.kicked.size()),
                                      s.changedMember,
                                      s.changedValue,
                                      s.endTime,
                                      std::to_wstring(created.count())};
  values.resize(18);
  return values;
}

}  // namespace testing
}  // namespace voicecontrol
