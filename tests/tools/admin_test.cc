// The admin interface: its routes against an in-process SimulatedServer
// (the same model the C++ member functions change), and its HTTP framing.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include <voicecontrol/testing/simulator.h>

#include "admin_http.h"
#include "admin_routes.h"
#include "simulator_fixture.h"

namespace voicecontrol {
namespace testing {
namespace {

// `origin`, when given, as a browser sends it, with Host 127.0.0.1:9 (a
// "Host|Origin" pair sets both).
AdminResponse Call(SimulatedServer& server, const std::string& method, const std::string& target,
                   const std::string& body = "", const std::string& origin = "") {
  AdminRequest request;
  request.method = method;
  const size_t bar = origin.find('|');
  request.host = bar == std::string::npos ? "127.0.0.1:9" : origin.substr(0, bar);
  request.origin = bar == std::string::npos ? origin : origin.substr(bar + 1);
  EXPECT_TRUE(ParseTarget(target, &request.path, &request.query)) << target;
  request.body = body;
  return HandleAdminRequest(server, request);
}

struct RefusalCase {
  const char* method;
  const char* target;
  const char* body;
  int status;
  const char* reason;  // part of the JSON error
  const char* origin = "";
};

TEST(AdminRoutesTest, BadRequestsGetAStatusAndAReason) {
  const RefusalCase cases[] = {
      {"GET", "/api/nothing", "", 404, "no such path"},
      {"POST", "/api/state", "", 405, "takes GET"},
      {"POST", "/", "", 405, "GET"},
      {"POST", "/api/queue", "{", 400, "not JSON"},
      {"POST", "/api/queue", "[1]", 400, "must be a JSON object"},
      {"POST", "/api/queue", "{\"fault\":{\"garbag\":true}}", 400, "unknown fault field"},
      {"POST", "/api/queue", "{\"fault\":{\"garbage\":1}}", 400, "true or false"},
      {"POST", "/api/queue", "{\"fault\":{\"status\":99}}", 400, "from 100 to 999"},
      {"POST", "/api/queue", "{\"fault\":{\"delay_ms\":1.5}}", 400, "whole number"},
      {"POST", "/api/queue", "{\"fault\":{\"probability\":2}}", 400, "from 0 to 1"},
      {"POST", "/api/queue", "{\"fault\":{\"seed\":-1}}", 400, "seed"},
      {"POST", "/api/queue", "{\"fault\":{\"flow_id\":99999999999}}", 400, "flow_id"},
      {"POST", "/api/queue", "{\"fault\":{\"dribble_ms\":5}}", 400, "needs dribble_bytes"},
      {"POST", "/api/queue", "{\"kind\":\"GET\"}", 400, "no command kind"},
      {"POST", "/api/queue", "{\"kind\":7}", 400, "no command kind"},
      {"POST", "/api/queue", "{\"count\":0}", 400, "count"},
      {"POST", "/api/queue", "{\"request\":3,\"kind\":\"QALL\"}", 400, "neither kind"},
      {"POST", "/api/queue", "{\"body\":5}", 400, "must be a string"},
      {"POST", "/api/queue", "{\"extra\":1}", 400, "unknown queue field"},
      {"PUT", "/api/scenarios/QALL", "{}", 400, "needs steps"},
      {"PUT", "/api/scenarios/QALL", "{\"steps\":{}}", 400, "JSON array"},
      {"PUT", "/api/scenarios/QALL", "{\"steps\":[{\"times\":-1}]}", 400, "times"},
      {"PUT", "/api/scenarios/NOPE", "{\"steps\":[]}", 400, "no command kind"},
      {"GET", "/api/journal?kind=qall", "", 400, "no command kind"},
      {"GET", "/api/journal?since=-1", "", 400, "since"},
      {"GET", "/api/journal?since=1e3", "", 400, "since"},
      {"GET", "/api/journal?after=1", "", 400, "unknown parameter"},
      // Another site's page in the host's browser, or a rebound host name.
      {"POST", "/api/reset", "", 403, "another site", "http://evil.example"},
      {"POST", "/api/reset", "", 403, "another site", "evil.example:9|http://evil.example:9"},
  };
  SimulatedServer server;
  for (const RefusalCase& c : cases) {
    const AdminResponse response = Call(server, c.method, c.target, c.body, c.origin);
    EXPECT_EQ(response.status, c.status) << c.method << " " << c.target << " " << c.body;
    EXPECT_NE(response.body.find(c.reason), std::string::npos) << response.body;
    EXPECT_EQ(response.body.rfind("{\"error\":", 0), 0u) << response.body;
  }
  EXPECT_EQ(server.QueuedAnswers(), 0u);
  EXPECT_TRUE(server.PlannedAnswers().empty());
}

// What the admin interface sets, the C++ door reads back: one model.
struct DoorCase {
  const char* method;
  const char* target;
  const char* body;
  const char* planned;  // PlannedAnswers, as target: fault xremaining
};

TEST(AdminRoutesTest, EachRouteChangesTheModelTheCppMembersRead) {
  const DoorCase cases[] = {
      {"POST", "/api/queue", "{\"fault\":{\"close_early\":true},\"count\":2}", "next: close-early x2"},
      {"POST", "/api/queue", "{\"kind\":\"KICK\",\"body\":\"<x/>\"}", "next KICK: none x1 scripted"},
      {"POST", "/api/queue", "{\"request\":4,\"fault\":{\"reset_before_headers\":true}}",
       "request 4: reset-before-headers x1"},
      {"PUT", "/api/scenarios/QALL",
       "{\"steps\":[{\"fault\":{\"garbage\":true},\"times\":2},{\"fault\":{\"status\":500},\"times\":0}]}",
       "scenario QALL step 1: garbage x2|scenario QALL step 2: status=500 x0"},
      {"PUT", "/api/standing",
       "{\"fault\":{\"end_mid_body\":true,\"first_attempts\":3,\"probability\":0.5,\"seed\":9}}",
       "standing: end-mid-body first=3 probability=0.5 seed=9 x0"},
      {"PUT", "/api/standing", "{\"fault\":{\"dribble_bytes\":4,\"dribble_ms\":2,\"body_delay_ms\":7}}",
       "standing: dribble=4/2ms body-delay=7 x0"},
  };
  for (const DoorCase& c : cases) {
    SimulatedServer server;
    const AdminResponse response = Call(server, c.method, c.target, c.body);
    EXPECT_EQ(response.status, 200) << c.body << " " << response.body;
    std::string planned;
    for (const PlannedAnswer& p : server.PlannedAnswers()) {
      planned += (planned.empty() ? "" : "|") + p.target + ": " + p.fault.Describe() + " x" +
                 std::to_string(p.remaining) + (p.scripted ? " scripted" : "");
    }
    EXPECT_EQ(planned, c.planned) << c.body;
    EXPECT_EQ(Call(server, "POST", "/api/reset").status, 200);
    EXPECT_TRUE(server.PlannedAnswers().empty()) << c.body;
  }
}

TEST_F(SimulatorTest, JournalAndStateShowWhatTheServerDid) {
  EXPECT_EQ(Call(server_, "POST", "/api/queue", "{\"kind\":\"QALL\",\"fault\":{\"garbage\":true}}").status, 200);
  Outcome([](VoiceController& c) { c.Create(L"s1", L"alice", L"周会", L"a,b"); });
  QAll();
  const std::string journal = Call(server_, "GET", "/api/journal?kind=QALL&since=1").body;
  EXPECT_NE(journal.find("\"method\":\"QALL\""), std::string::npos) << journal;
  EXPECT_NE(journal.find("\"fault\":\"garbage\""), std::string::npos) << journal;
  EXPECT_NE(journal.find("\"latency_ms\":"), std::string::npos) << journal;
  EXPECT_EQ(journal.find("CREATE"), std::string::npos) << journal;
  const std::string state = Call(server_, "GET", "/api/state").body;
  EXPECT_NE(state.find("\"title\":\"\xE5\x91\xA8\xE4\xBC\x9A\""), std::string::npos) << state;
  EXPECT_NE(state.find("\"request_count\":2"), std::string::npos) << state;
  const AdminResponse page = Call(server_, "GET", "/");
  EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("id=\"exchanges\""), std::string::npos);
}

TEST(AdminHttpTest, FramingRefusesWhatItCannotRead) {
  SimulatedServer server;
  AdminHttpServer admin("127.0.0.1", 0, [&server](const AdminRequest& request) {
    return HandleAdminRequest(server, request);
  });
  auto exchange = [&admin](const std::string& bytes) {
    platform::TcpSocket client = ConnectAndSend(admin.port(), bytes);
    const std::string answer = ReadToEnd(client);
    return answer.substr(0, answer.find("\r\n"));
  };
  const std::map<std::string, std::string> cases = {
      {"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET /a%zz HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"NONSENSE\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"POST /api/queue HTTP/1.1\r\nContent-Length: 99999\r\n\r\n", "HTTP/1.1 413 Payload Too Large"},
      {"POST /api/queue HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", "HTTP/1.1 200 OK"},
  };
  for (const auto& c : cases) EXPECT_EQ(exchange(c.first), c.second) << c.first;
  admin.Stop();
}

}  // namespace
}  // namespace testing
}  // namespace voicecontrol
