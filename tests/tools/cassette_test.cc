// Cassettes: the line format both ways, Seq_No rewriting, and which
// recorded exchange a request gets (record_replay_test.py plays them).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cassette.h"
#include "exchange.h"

namespace voicecontrol {
namespace testing {
namespace {

// A request as the library sends it.
std::string Request(const std::string& method, int seqNo, int flowId,
                    const std::vector<std::string>& values) {
  std::string body = "<?xml version=\"1.0\" ?>\n<Interface>\n<Request>\n<Seq_No>" +
                     std::to_string(seqNo) + "</Seq_No>\n<FlowID>" + std::to_string(flowId) +
                     "</FlowID>\n<FieldNum>" + std::to_string(values.size()) +
                     "</FieldNum>\n<Field>\n";
  for (const std::string& v : values) body += "<Field_Value>" + v + "</Field_Value>\n";
  body += "</Field>\n</Request>\n</Interface>";
  return method + " /MyURL/ HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nHost: Host\r\n\r\n" + body;
}

std::string Answer(int seqNo, int flowId, const std::vector<std::wstring>& values) {
  const std::string body = SimulatedServer::AnswerBody(seqNo, flowId, values);
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nHost: Host\r\nConnection: close\r\n\r\n" + body;
}

ReceivedRequest Parsed(const std::string& raw) {
  ReceivedRequest request;
  RequestHead head;
  ReadHead(raw, &head);
  ReadCommand(raw, head, &request);
  return request;
}

std::string Line(uint64_t number, const std::string& request, const std::string& answer,
                 RecordedAnswer::End end = RecordedAnswer::End::kClose) {
  CassetteExchange exchange;
  exchange.number = number;
  exchange.request = request;
  exchange.answer = answer;
  exchange.firstByteMs = 3;
  exchange.end = end;
  return CassetteLine(exchange);
}

TEST(CassetteTest, LinesKeepEveryByteAndTextStaysReadable) {
  const struct {
    const char* name;
    std::string bytes;
    const char* field;
  } cases[] = {
      {"UTF-8 with line ends", "HTTP/1.1 200 OK\r\n\r\n<a>\xE4\xBC\x9A</a>", "\"text\""},
      {"GB2312", "<a>\xBB\xE1</a>", "\"base64\""},
      {"one byte short of a group", std::string("\xFF\x00", 2), "\"base64\""},
      {"nothing", "", "\"text\""},
  };
  for (const auto& c : cases) {
    CassetteExchange exchange;
    exchange.number = 7;
    exchange.request = "KICK";
    exchange.answer = c.bytes;
    exchange.end = RecordedAnswer::End::kReset;
    const std::string line = CassetteLine(exchange);
    EXPECT_NE(line.find(std::string("\"answer\":{") + c.field), std::string::npos) << c.name;
    EXPECT_EQ(line.find('\n'), std::string::npos) << c.name;
    const CassetteExchange back = ReadCassetteLine(line);
    EXPECT_EQ(back.answer, c.bytes) << c.name;
    EXPECT_EQ(back.number, 7u) << c.name;
    EXPECT_EQ(back.end, RecordedAnswer::End::kReset) << c.name;
    EXPECT_FALSE(back.firstByteMs) << c.name;
  }
}

TEST(CassetteTest, BadLinesAreRefusedWithTheirPlace) {
  const struct {
    const char* line;
    const char* says;
  } cases[] = {
      {"{\"request\": {\"text\": \"x\"}", "parse error"},
      {"{\"request\": {\"text\": \"x\"}}", "answer"},
      {"{\"request\": {\"hex\": \"78\"}, \"answer\": {\"text\": \"\"}}", "neither"},
      {"{\"request\": {\"base64\": \"e!\"}, \"answer\": {\"text\": \"\"}}", "not base64"},
      {"{\"request\": {\"text\": \"\"}, \"answer\": {\"text\": \"\"}, \"end\": \"gone\"}", "gone"},
  };
  for (const auto& c : cases) {
    std::istringstream in(Line(1, "a", "b") + "\n\n" + c.line + "\n");
    try {
      Cassette cassette(in, "c.jsonl");
      ADD_FAILURE() << c.line;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("c.jsonl:3: ", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

TEST(CassetteTest, SeqNoIsRewrittenAndTheLengthFollows) {
  const std::string whole = Answer(1, 1002, {L"0", L"kicked"});
  const std::string cut = whole.substr(0, whole.size() - 20);  // the length still announces all
  const struct {
    const char* name;
    std::string answer;
    int seqNo;
    std::string expected;
  } cases[] = {
      {"longer", whole, 12, Answer(12, 1002, {L"0", L"kicked"})},
      {"shorter", Answer(345, 1002, {L"0"}), 7, Answer(7, 1002, {L"0"})},
      {"cut short", cut, 10, Answer(10, 1002, {L"0", L"kicked"}).substr(0, cut.size() + 1)},
      {"header block only", whole.substr(0, whole.find("\r\n\r\n") + 4), 9,
       whole.substr(0, whole.find("\r\n\r\n") + 4)},
      {"no interface message", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", 9,
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"},
  };
  for (const auto& c : cases) EXPECT_EQ(RewriteSeqNo(c.answer, c.seqNo), c.expected) << c.name;
}

TEST(CassetteTest, EachRequestTakesTheNextUnusedExchangeWithItsKey) {
  const std::string kick = Request("KICK", 1, 1002, {"s1", "bob"});
  std::istringstream in(
      // Written as they ended; played as they arrived.
      Line(2, Request("KICK", 2, 1002, {"s1", "bob"}), Answer(2, 1002, {L"4"})) + "\n" +
      Line(1, kick, Answer(1, 1002, {L"0"})) + "\n" +
      Line(3, Request("DSCALL", 3, 1006, {"s1", "a", "2024-01-01 10:00:00"}),
           Answer(3, 1006, {L"0"}), RecordedAnswer::End::kHold) +
      "\n" + Line(4, "GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n") + "\n");
  Cassette cassette(in, "c");
  EXPECT_EQ(cassette.size(), 4u);
  const struct {
    std::string request;
    std::string answer;  // "": none left
    RecordedAnswer::End end;
  } cases[] = {
      {Request("KICK", 9, 1002, {"s1", "bob"}), Answer(9, 1002, {L"0"}), RecordedAnswer::End::kClose},
      {Request("KICK", 10, 1002, {"s1", "carol"}), "", RecordedAnswer::End::kClose},
      {Request("KICK", 11, 1003, {"s1", "bob"}), "", RecordedAnswer::End::kClose},
      {Request("KICK", 12, 1002, {"s1", "bob"}), Answer(12, 1002, {L"4"}), RecordedAnswer::End::kClose},
      {Request("KICK", 13, 1002, {"s1", "bob"}), "", RecordedAnswer::End::kClose},
      {Request("DSCALL", 14, 1006, {"s1", "a", "2031-05-06 07:08:09"}), Answer(14, 1006, {L"0"}),
       RecordedAnswer::End::kHold},
      {Request("DSCALL", 15, 1006, {"s1", "b", "2024-01-01 10:00:00"}), "",
       RecordedAnswer::End::kClose},
  };
  for (const auto& c : cases) {
    const std::optional<RecordedAnswer> got = cassette.Take(Parsed(c.request));
    EXPECT_EQ(got ? got->bytes : "", c.answer) << c.request;
    if (got) {
      EXPECT_EQ(got->end, c.end) << c.request;
      EXPECT_EQ(got->delayMs, 3) << c.request;
    }
  }
  const RecordedAnswer refused = UnmatchedAnswer(Parsed(kick));
  EXPECT_EQ(refused.bytes.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << refused.bytes;
  EXPECT_NE(refused.bytes.find("KICK [\"s1\", \"bob\"]"), std::string::npos) << refused.bytes;
}

}  // namespace
}  // namespace testing
}  // namespace voicecontrol
