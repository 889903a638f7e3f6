#include "admin_routes.h"

#include <exception>
#include <string>

#include "admin_json.h"

namespace voicecontrol {
namespace testing {

namespace {

constexpr char kScenarios[] = "/api/scenarios";

std::string RequireKind(const std::string& kind) {
  if (!SimulatedServer::IsCommandKind(kind)) {
    throw BadAdminRequest("\"" + kind +
                          "\" is no command kind (CREATE, KICK, CHANGE, QALL, QSINGLE, DSCALL)");
  }
  return kind;
}

// The kind named after /api/scenarios/.
std::string ScenarioKind(const AdminRequest& request) {
  const size_t prefix = sizeof kScenarios;  // the slash after it included
  return RequireKind(request.path.size() > prefix ? request.path.substr(prefix) : "");
}

Json State(SimulatedServer& server, const AdminRequest&) {
  Json sessions = Json::array(), planned = Json::array();
  for (const Session& session : server.Sessions()) sessions.push_back(SessionJson(session));
  for (const PlannedAnswer& answer : server.PlannedAnswers()) {
    planned.push_back(PlannedJson(answer));
  }
  return {{"address", server.address()}, {"port", server.port()},
          {"request_count", server.RequestCount()}, {"sessions", sessions},
          {"planned", planned}, {"standing", FaultJson(server.standingFault())}};
}

// ?kind=QALL&since=N: requests of that kind numbered above N.
Json Journal(SimulatedServer& server, const AdminRequest& request) {
  std::string kind;
  uint64_t since = 0;
  for (const auto& parameter : request.query) {
    if (parameter.first == "kind") {
      kind = RequireKind(parameter.second);
    } else if (parameter.first == "since") {
      const Json number = Json::parse(parameter.second, nullptr, false);
      since = static_cast<uint64_t>(ReadInteger(number, "since", 0, INT64_MAX));
    } else {
      throw BadAdminRequest("unknown parameter \"" + parameter.first + "\" (kind, since)");
    }
  }
  Json requests = Json::array();
  for (const ReceivedRequest& r : server.Requests(kind, since)) requests.push_back(RequestJson(r));
  return {{"request_count", server.RequestCount()}, {"requests", requests}};
}

// {"fault": {...}, "body": "...", "kind": "QALL", "count": 2} or
// {"fault": {...}, "body": "...", "request": 7}.
Json Queue(SimulatedServer& server, const AdminRequest& request) {
  const Json body = ParseObject(request.body);
  RequireOnly(body, {"fault", "body", "kind", "count", "request"}, "queue");
  const Fault fault = body.contains("fault") ? ReadFault(body["fault"]) : Fault();
  const std::optional<std::string> scripted = ReadOptionalText(body, "body");
  if (body.contains("request")) {
    if (body.contains("kind") || body.contains("count")) {
      throw BadAdminRequest("request names one request: it takes neither kind nor count");
    }
    server.SetFaultForRequest(
        static_cast<uint64_t>(ReadInteger(body["request"], "request", 1, INT64_MAX)), fault,
        scripted);
    return {{"queued", 1}};
  }
  const int count = body.contains("count")
                        ? static_cast<int>(ReadInteger(body["count"], "count", 1, 1000000))
                        : 1;
  std::string kind;
  if (body.contains("kind")) {
    kind = RequireKind(body["kind"].is_string() ? body["kind"].get<std::string>() : "");
  }
  if (scripted && kind.empty()) server.QueueAnswer(*scripted, count, fault);
  if (scripted && !kind.empty()) server.QueueAnswerFor(kind, *scripted, count, fault);
  if (!scripted && kind.empty()) server.QueueFault(fault, count);
  if (!scripted && !kind.empty()) server.QueueFaultFor(kind, fault, count);
  return {{"queued", count}};
}

Json ClearQueue(SimulatedServer& server, const AdminRequest&) {
  server.ClearQueue();
  return Json::object();
}

Json SetStanding(SimulatedServer& server, const AdminRequest& request) {
  const Json body = ParseObject(request.body);
  RequireOnly(body, {"fault"}, "standing");
  server.SetStandingFault(body.contains("fault") ? ReadFault(body["fault"]) : Fault());
  return {{"standing", FaultJson(server.standingFault())}};
}

Json ClearStanding(SimulatedServer& server, const AdminRequest&) {
  server.SetStandingFault(Fault());
  return Json::object();
}

Json SetScenario(SimulatedServer& server, const AdminRequest& request) {
  const std::string kind = ScenarioKind(request);
  const Json body = ParseObject(request.body);
  RequireOnly(body, {"steps"}, "scenario");
  if (!body.contains("steps")) throw BadAdminRequest("a scenario needs steps");
  server.SetScenario(kind, ReadSteps(body["steps"]));
  return Json::object();
}

Json ClearScenario(SimulatedServer& server, const AdminRequest& request) {
  server.SetScenario(ScenarioKind(request), {});
  return Json::object();
}

Json ClearScenarios(SimulatedServer& server, const AdminRequest&) {
  server.ClearScenarios();
  return Json::object();
}

Json Reset(SimulatedServer& server, const AdminRequest&) {
  server.Reset();
  return Json::object();
}

struct Route {
  const char* method;
  const char* path;
  bool kindFollows;  // the path continues with "/KIND"
  Json (*run)(SimulatedServer&, const AdminRequest&);
};

constexpr Route kRoutes[] = {
    {"GET", "/api/state", false, State},
    {"GET", "/api/journal", false, Journal},
    {"POST", "/api/queue", false, Queue},
    {"DELETE", "/api/queue", false, ClearQueue},
    {"PUT", "/api/standing", false, SetStanding},
    {"DELETE", "/api/standing", false, ClearStanding},
    {"PUT", kScenarios, true, SetScenario},
    {"DELETE", kScenarios, true, ClearScenario},
    {"DELETE", kScenarios, false, ClearScenarios},
    {"POST", "/api/reset", false, Reset},
};

bool Matches(const Route& route, const std::string& path) {
  const std::string base = route.path;
  if (!route.kindFollows) return path == base;
  return path.size() > base.size() + 1 && path.compare(0, base.size() + 1, base + "/") == 0;
}

AdminResponse Error(int status, const std::string& reason) {
  AdminResponse response;
  response.status = status;
  response.body = Dump({{"error", reason}});
  return response;
}

// Whether `host` (a Host header's value) names this machine's loopback
// interface: "127.x.y.z" or "localhost", with or without a port.
bool IsLoopbackHost(const std::string& host) {
  const std::string name = host.substr(0, host.rfind(':'));
  return name == "localhost" || name.rfind("127.", 0) == 0;
}

// A request a browser sent on behalf of another site's page (its Origin is
// not the admin page's own), or under a host name that only resolves to
// loopback for the moment (DNS rebinding). Listening on loopback alone does
// not keep such requests out.
bool FromAnotherSite(const AdminRequest& request) {
  if (!request.host.empty() && !IsLoopbackHost(request.host)) return true;
  return !request.origin.empty() && request.origin != "http://" + request.host;
}

AdminResponse Dispatch(SimulatedServer& server, const AdminRequest& request) {
  if (FromAnotherSite(request)) {
    return Error(403, "admin requests from another site's page are refused");
  }
  if (request.path == "/" || request.path == "/index.html") {
    if (request.method != "GET") return Error(405, "the page is read with GET");
    AdminResponse page;
    page.contentType = "text/html; charset=utf-8";
    page.body = kAdminPage;
    return page;
  }
  std::string allowed;
  for (const Route& route : kRoutes) {
    if (!Matches(route, request.path)) continue;
    if (route.method == request.method) {
      AdminResponse response;
      response.body = Dump(route.run(server, request));
      return response;
    }
    allowed += (allowed.empty() ? "" : ", ") + std::string(route.method);
  }
  if (allowed.empty()) return Error(404, "no such path: " + request.path);
  AdminResponse response = Error(405, request.path + " takes " + allowed);
  response.allow = allowed;
  return response;
}

}  // namespace

AdminResponse HandleAdminRequest(SimulatedServer& server, const AdminRequest& request) {
  try {
    return Dispatch(server, request);
  } catch (const BadAdminRequest& e) {
    return Error(400, e.what());
  } catch (const std::invalid_argument& e) {  // SimulatedServer's refusal
    return Error(400, e.what());
  } catch (const Json::exception& e) {
    return Error(400, e.what());
  } catch (const std::exception& e) {
    return Error(500, e.what());
  }
}

}  // namespace testing
}  // namespace voicecontrol
