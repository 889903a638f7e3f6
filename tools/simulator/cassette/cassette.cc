#include "cassette.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "exchange.h"
#include "text.h"

namespace voicecontrol {
namespace testing {

namespace {

using nlohmann::json;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Neither the standard library nor nlohmann-json has base64, and it is too
// small to bring in a library (one the Windows build would need too) for.
std::string ToBase64(const std::string& bytes) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (const unsigned char c : bytes) {
    bits = (bits << 8) | c;
    count += 8;
    while (count >= 6) out += kBase64[(bits >> (count -= 6)) & 0x3F];
  }
  if (count > 0) out += kBase64[(bits << (6 - count)) & 0x3F];
  while (out.size() % 4 != 0) out += '=';
  return out;
}

std::string FromBase64(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '=') break;
    const char* at = std::strchr(kBase64, c);
    if (c == '\0' || at == nullptr) throw std::runtime_error("not base64");
    bits = (bits << 6) | static_cast<uint32_t>(at - kBase64);
    count += 6;
    if (count >= 8) out += static_cast<char>((bits >> (count -= 8)) & 0xFF);
  }
  return out;
}

// Bytes as JSON: {"text": ...} when they are UTF-8, which keeps a cassette
// readable (nearly every request and answer is), else {"base64": ...}.
json Bytes(const std::string& bytes) {
  try {
    (void)json(bytes).dump();  // throws on bytes that are not UTF-8
    return json{{"text", bytes}};
  } catch (const json::type_error&) {
    return json{{"base64", ToBase64(bytes)}};
  }
}

std::string ReadBytes(const json& object, const char* name) {
  const json& field = object.at(name);
  if (field.contains("text")) return field.at("text").get<std::string>();
  if (field.contains("base64")) return FromBase64(field.at("base64").get<std::string>());
  throw std::runtime_error(std::string("\"") + name + "\" holds neither \"text\" nor \"base64\"");
}

const char* EndName(RecordedAnswer::End end) {
  switch (end) {
    case RecordedAnswer::End::kReset: return "reset";
    case RecordedAnswer::End::kHold: return "held";
    default: return "closed";
  }
}

// The method of a request, from its request line, for people reading the file.
std::string MethodOf(const std::string& request) {
  return request.substr(0, std::min(request.find(' '), request.find("\r\n")));
}

}  // namespace

std::string CassetteLine(const CassetteExchange& exchange) {
  // Ordered: the fields in the order people read them, the bytes last.
  nlohmann::ordered_json line = {{"exchange", exchange.number},
               {"method", MethodOf(exchange.request)},
               {"arrived_at_ms", exchange.arrivedAtMs},
               {"first_byte_ms", nullptr},
               {"upstream_ms", exchange.upstreamMs},
               {"end", EndName(exchange.end)},
               {"request", Bytes(exchange.request)},
               {"answer", Bytes(exchange.answer)}};
  if (exchange.firstByteMs) line["first_byte_ms"] = *exchange.firstByteMs;
  return line.dump();
}

CassetteExchange ReadCassetteLine(const std::string& text) {
  try {
    const json line = json::parse(text);
    CassetteExchange exchange;
    exchange.number = line.value("exchange", uint64_t{0});
    exchange.request = ReadBytes(line, "request");
    exchange.answer = ReadBytes(line, "answer");
    exchange.arrivedAtMs = line.value("arrived_at_ms", int64_t{0});
    exchange.upstreamMs = line.value("upstream_ms", int64_t{0});
    if (line.contains("first_byte_ms") && !line.at("first_byte_ms").is_null()) {
      exchange.firstByteMs = line.at("first_byte_ms").get<int64_t>();
    }
    const std::string end = line.value("end", std::string("closed"));
    if (end == "reset") {
      exchange.end = RecordedAnswer::End::kReset;
    } else if (end == "held") {
      exchange.end = RecordedAnswer::End::kHold;
    } else if (end != "closed") {
      throw std::runtime_error("\"end\" is \"" + end + "\", not closed, reset or held");
    }
    return exchange;
  } catch (const json::exception& e) {
    throw std::runtime_error(e.what());
  }
}

std::string MatchKey(const ReceivedRequest& request) {
  std::string key = request.method + '\n' + std::to_string(request.flowId) + '\n' +
                    std::to_string(request.fieldNum);
  for (size_t i = 0; i < request.values.size(); ++i) {
    if (request.method == "DSCALL" && i == 2) continue;
    key += '\n' + Utf8FromWide(request.values[i]);
  }
  return key;
}

std::string RewriteSeqNo(const std::string& answer, int seqNo) {
  const size_t head = HeaderBlockLength(answer);
  const size_t open = answer.find("<Seq_No>", head);
  const size_t close = open == std::string::npos ? open : answer.find("</Seq_No>", open);
  if (close == std::string::npos) return answer;
  const size_t from = open + 8;
  std::string out = answer.substr(0, from) + std::to_string(seqNo) + answer.substr(close);
  const long delta = static_cast<long>(out.size()) - static_cast<long>(answer.size());
  // The announced length, which may exceed what was sent (an answer cut short).
  for (size_t line = out.find("\r\n"); line != std::string::npos && line + 2 < head;
       line = out.find("\r\n", line + 2)) {
    if (strncasecmp(out.c_str() + line + 2, "Content-Length:", 15) != 0) continue;
    const size_t value = line + 17;
    const size_t end = out.find("\r\n", value);
    const std::string digits = out.substr(value, end - value);
    const size_t start = digits.find_first_not_of(' ');
    if (start == std::string::npos) break;
    const long length = std::strtol(digits.c_str() + start, nullptr, 10) + delta;
    out.replace(value, end - value, " " + std::to_string(std::max(0L, length)));
    break;
  }
  return out;
}

Cassette::Cassette(std::istream& in, const std::string& name) {
  std::string text;
  for (size_t lineNumber = 1; std::getline(in, text); ++lineNumber) {
    if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
    try {
      exchanges_.push_back(ReadCassetteLine(text));
    } catch (const std::exception& e) {
      throw std::runtime_error(name + ":" + std::to_string(lineNumber) + ": " + e.what());
    }
  }
  // Lines are written as exchanges end; they are played in arrival order.
  std::stable_sort(exchanges_.begin(), exchanges_.end(),
                   [](const CassetteExchange& a, const CassetteExchange& b) {
                     return a.number < b.number;
                   });
  for (size_t i = 0; i < exchanges_.size(); ++i) {
    ReceivedRequest request;
    RequestHead head;
    if (!ReadHead(exchanges_[i].request, &head)) continue;
    ReadCommand(exchanges_[i].request, head, &request);
    // Only commands reach the cassette's answers; anything else is answered
    // by the simulator as it would be anyway.
    if (request.isCommand) unused_[MatchKey(request)].push_back(i);
  }
}

std::optional<RecordedAnswer> Cassette::Take(const ReceivedRequest& request) {
  size_t index = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = unused_.find(MatchKey(request));
    if (found == unused_.end() || found->second.empty()) return std::nullopt;
    index = found->second.front();
    found->second.pop_front();
  }
  const CassetteExchange& exchange = exchanges_[index];
  RecordedAnswer answer;
  answer.bytes = RewriteSeqNo(exchange.answer, request.seqNo);
  // The upstream's wait before it answered, or before it ended without a
  // word; a held connection needs none, the hold is the wait.
  const int64_t wait = exchange.firstByteMs ? *exchange.firstByteMs
                       : exchange.end == RecordedAnswer::End::kHold ? 0
                                                                    : exchange.upstreamMs;
  answer.delayMs = static_cast<int>(std::clamp<int64_t>(wait, 0, 600000));
  answer.end = exchange.end;
  answer.note = "exchange " + std::to_string(exchange.number);
  return answer;
}

RecordedAnswer UnmatchedAnswer(const ReceivedRequest& request) {
  std::string values;
  for (const std::wstring& value : request.values) {
    values += (values.empty() ? "" : ", ") + json(Utf8FromWide(value)).dump();
  }
  RecordedAnswer answer;
  answer.bytes = RefusalAnswer(404, "no recorded exchange left for " + request.method + " [" +
                                        values + "] (voicectl serve --replay --strict)");
  answer.note = "none: 404";
  return answer;
}

}  // namespace testing
}  // namespace voicecontrol
