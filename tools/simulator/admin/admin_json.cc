#include "admin_json.h"

#include <chrono>
#include <climits>

#include "text.h"

namespace voicecontrol {
namespace testing {

namespace {

// The fault's members by their JSON names: one table each way, so that
// reading and writing cannot drift apart.
struct FlagField {
  const char* name;
  bool Fault::*member;
};
constexpr FlagField kFlags[] = {
    {"close_early", &Fault::closeEarly},
    {"no_answer", &Fault::noAnswer},
    {"http10", &Fault::http10},
    {"garbage", &Fault::garbage},
    {"oversize", &Fault::oversize},
    {"partial", &Fault::partial},
    {"reset_before_headers", &Fault::resetBeforeHeaders},
    {"reset_after_headers", &Fault::resetAfterHeaders},
    {"end_mid_body", &Fault::endMidBody},
};

constexpr int kMaxWaitMs = 600000;  // voicectl serve --delay's bound
struct NumberField {
  const char* name;
  int Fault::*member;
  int min, max, unset;
};
constexpr NumberField kNumbers[] = {
    {"delay_ms", &Fault::delayMs, 0, kMaxWaitMs, 0},
    {"status", &Fault::status, 100, 999, 200},
    {"dribble_bytes", &Fault::dribbleBytes, 0, 65536, 0},
    {"dribble_ms", &Fault::dribbleMs, 0, kMaxWaitMs, 0},
    {"body_delay_ms", &Fault::bodyDelayMs, 0, kMaxWaitMs, 0},
    {"first_attempts", &Fault::firstAttempts, 0, INT_MAX, 0},
};

struct OptionalField {
  const char* name;
  std::optional<int> Fault::*member;
};
constexpr OptionalField kOptionals[] = {
    {"flow_id", &Fault::flowId},
    {"field_num", &Fault::fieldNum},
};

bool ReadFlag(const Json& value, const char* name) {
  if (!value.is_boolean()) throw BadAdminRequest(std::string(name) + " must be true or false");
  return value.get<bool>();
}

int64_t MillisSinceEpoch(std::chrono::system_clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

Json WideList(const std::vector<std::wstring>& texts) {
  Json list = Json::array();
  for (const auto& text : texts) list.push_back(Utf8FromWide(text));
  return list;
}

}  // namespace

Json ParseObject(const std::string& body) {
  if (body.find_first_not_of(" \t\r\n") == std::string::npos) return Json::object();
  Json value = Json::parse(body, nullptr, false);
  if (value.is_discarded()) throw BadAdminRequest("the body is not JSON");
  if (!value.is_object()) throw BadAdminRequest("the body must be a JSON object");
  return value;
}

void RequireOnly(const Json& object, const std::vector<const char*>& known, const char* what) {
  for (const auto& member : object.items()) {
    bool found = false;
    for (const char* name : known) found = found || member.key() == name;
    if (!found) {
      throw BadAdminRequest("unknown " + std::string(what) + " field \"" + member.key() + "\"");
    }
  }
}

int64_t ReadInteger(const Json& value, const char* name, int64_t min, int64_t max) {
  const std::string range = std::string(name) + " must be a whole number from " +
                            std::to_string(min) + " to " + std::to_string(max);
  if (value.is_number_unsigned()) {
    const uint64_t n = value.get<uint64_t>();
    if (max < 0 || n > static_cast<uint64_t>(max) || static_cast<int64_t>(n) < min) {
      throw BadAdminRequest(range);
    }
    return static_cast<int64_t>(n);
  }
  if (!value.is_number_integer()) throw BadAdminRequest(range);
  const int64_t n = value.get<int64_t>();
  if (n < min || n > max) throw BadAdminRequest(range);
  return n;
}

std::optional<std::string> ReadOptionalText(const Json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) return std::nullopt;
  if (!it->is_string()) throw BadAdminRequest(std::string(name) + " must be a string");
  return it->get<std::string>();
}

Fault ReadFault(const Json& value) {
  if (!value.is_object()) throw BadAdminRequest("a fault must be a JSON object");
  Fault fault;
  for (const auto& member : value.items()) {
    const std::string& key = member.key();
    const Json& field = member.value();
    bool known = false;
    for (const FlagField& f : kFlags) {
      if (key != f.name) continue;
      fault.*f.member = ReadFlag(field, f.name);
      known = true;
    }
    for (const NumberField& f : kNumbers) {
      if (key != f.name) continue;
      fault.*f.member = static_cast<int>(ReadInteger(field, f.name, f.min, f.max));
      known = true;
    }
    for (const OptionalField& f : kOptionals) {
      if (key != f.name) continue;
      fault.*f.member = static_cast<int>(ReadInteger(field, f.name, INT32_MIN, INT32_MAX));
      known = true;
    }
    if (key == "seed") {
      if (!field.is_number_unsigned()) throw BadAdminRequest("seed must be a whole number from 0");
      fault.seed = field.get<uint64_t>();
      known = true;
    }
    if (key == "probability") {
      if (!field.is_number() || field.get<double>() < 0 || field.get<double>() > 1) {
        throw BadAdminRequest("probability must be a number from 0 to 1");
      }
      fault.probability = field.get<double>();
      known = true;
    }
    if (!known) throw BadAdminRequest("unknown fault field \"" + key + "\"");
  }
  if (fault.dribbleMs > 0 && fault.dribbleBytes == 0) {
    throw BadAdminRequest("dribble_ms needs dribble_bytes");
  }
  return fault;
}

std::vector<ScenarioStep> ReadSteps(const Json& value) {
  if (!value.is_array()) throw BadAdminRequest("steps must be a JSON array");
  std::vector<ScenarioStep> steps;
  for (const Json& item : value) {
    if (!item.is_object()) throw BadAdminRequest("a step must be a JSON object");
    RequireOnly(item, {"fault", "body", "times"}, "step");
    ScenarioStep step;
    if (item.contains("fault")) step.fault = ReadFault(item["fault"]);
    step.body = ReadOptionalText(item, "body");
    if (item.contains("times")) {
      step.times = static_cast<int>(ReadInteger(item["times"], "times", 0, INT_MAX));
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

Json FaultJson(const Fault& fault) {
  Json json = Json::object();
  for (const FlagField& f : kFlags) {
    if (fault.*f.member) json[f.name] = true;
  }
  for (const NumberField& f : kNumbers) {
    if (fault.*f.member != f.unset) json[f.name] = fault.*f.member;
  }
  for (const OptionalField& f : kOptionals) {
    if (fault.*f.member) json[f.name] = *(fault.*f.member);
  }
  if (fault.probability < 1.0) {
    json["probability"] = fault.probability;
    json["seed"] = fault.seed;
  }
  json["description"] = fault.Describe();
  return json;
}

Json RequestJson(const ReceivedRequest& r) {
  Json json = {{"number", r.number}, {"method", r.method}, {"is_command", r.isCommand},
               {"seq_no", r.seqNo}, {"flow_id", r.flowId}, {"field_num", r.fieldNum},
               {"values", WideList(r.values)}, {"arrived_at_ms", MillisSinceEpoch(r.arrivedAt)},
               {"answered", r.answered}, {"raw", r.raw}};
  if (r.answered) {
    json["latency_ms"] =
        std::chrono::duration<double, std::milli>(r.answeredAt - r.arrivedAt).count();
    json["fault"] = r.fault;
    json["scripted"] = r.scripted;
    json["status"] = r.status;
    json["answer_flow_id"] = r.answerFlowId;
    json["outcome"] = r.outcome;
  }
  return json;
}

Json SessionJson(const Session& s) {
  return {{"id", Utf8FromWide(s.id)},
          {"owner", Utf8FromWide(s.owner)},
          {"title", Utf8FromWide(s.title)},
          {"members", Utf8FromWide(s.members)},
          {"kicked", WideList(s.kicked)},
          {"changed_member", Utf8FromWide(s.changedMember)},
          {"changed_value", Utf8FromWide(s.changedValue)},
          {"end_time", Utf8FromWide(s.endTime)},
          {"created_at_ms", MillisSinceEpoch(s.createdAt)}};
}

Json PlannedJson(const PlannedAnswer& p) {
  return {{"target", p.target},
          {"fault", FaultJson(p.fault)},
          {"scripted", p.scripted},
          {"remaining", p.remaining}};
}

std::string Dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace testing
}  // namespace voicecontrol
