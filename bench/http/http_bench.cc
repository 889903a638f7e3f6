// HttpResponse::Parse against Boost.Beast's response_parser on the same
// bytes: a typical XCAP reply and a reply carrying an interface message.
// Each iteration parses into a fresh message, as the library does for every
// received reply, and touches the body so neither side can skip it.
#include <benchmark/benchmark.h>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <string>

#include <voicecontrol/http/http.h>

namespace {

namespace http = boost::beast::http;

std::string XcapReply() {
  std::string body =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<resource-lists xmlns=\"urn:ietf:params:xml:ns:resource-lists\">\n"
      "<list name=\"friends\">\n";
  int entry = 0;
  while (body.size() < 1024 - 40) {
    body += "<entry uri=\"sip:user" + std::to_string(entry++) + "@example.com\"/>\n";
  }
  body += "</list>\n</resource-lists>\n";
  body.resize(1024, '\n');
  return "HTTP/1.1 200 OK\r\n"
         "Server: XCAP-Server/2.1\r\n"
         "Date: Mon, 07 Dec 2026 07:22:05 GMT\r\n"
         "Etag: \"5f1b2c3d-4e5f\"\r\n"
         "Content-Type: application/resource-lists+xml\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string InterfaceReply() {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Response>\n"
      "<Seq_No>1</Seq_No>\n<FlowID>1001</FlowID>\n<FieldNum>2</FieldNum>\n<Field>\n"
      "<Field_Value>0</Field_Value>\n<Field_Value>ok</Field_Value>\n</Field>\n"
      "</Response>\n</Interface>";
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nHost: Host\r\n\r\n" + body;
}

void ParseWithLibrary(benchmark::State& state, const std::string& wire) {
  for (auto _ : state) {
    voicecontrol::HttpResponse response;
    const int result = response.Parse(wire.c_str(), static_cast<int>(wire.size()));
    if (result != 0) state.SkipWithError("HttpResponse::Parse failed");
    benchmark::DoNotOptimize(response.GetBody());
    benchmark::DoNotOptimize(response.GetEtag());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}

void ParseWithBeast(benchmark::State& state, const std::string& wire) {
  for (auto _ : state) {
    http::response_parser<http::string_body> parser;
    parser.eager(true);
    boost::beast::error_code error;
    parser.put(boost::asio::buffer(wire.data(), wire.size()), error);
    if (error || !parser.is_done()) state.SkipWithError("beast parser failed");
    const auto& message = parser.get();
    benchmark::DoNotOptimize(message.body().data());
    benchmark::DoNotOptimize(message.find(http::field::etag));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}

const std::string kXcapReply = XcapReply();
const std::string kInterfaceReply = InterfaceReply();

void BM_XcapReply_Library(benchmark::State& state) { ParseWithLibrary(state, kXcapReply); }
void BM_XcapReply_Beast(benchmark::State& state) { ParseWithBeast(state, kXcapReply); }
void BM_InterfaceReply_Library(benchmark::State& state) {
  ParseWithLibrary(state, kInterfaceReply);
}
void BM_InterfaceReply_Beast(benchmark::State& state) { ParseWithBeast(state, kInterfaceReply); }

BENCHMARK(BM_XcapReply_Library);
BENCHMARK(BM_XcapReply_Beast);
BENCHMARK(BM_InterfaceReply_Library);
BENCHMARK(BM_InterfaceReply_Beast);

}  // namespace

BENCHMARK_MAIN();
