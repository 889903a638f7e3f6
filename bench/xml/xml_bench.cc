// Parse throughput of XmlParser::Parse against pugixml (DOM), tinyxml2 (DOM),
// libxml2 (xmlReadMemory, DOM) and expat (SAX) on the same bytes: presence
// documents (PIDF tuples, RLMI lists, watcher-information lists) generated
// here at about 1 KB, 64 KB and 1 MB. Every DOM is built and destroyed inside
// the timed loop. Also times XmlNode::ToString of the 1 MB trees.
//
//   xml_bench --benchmark_filter=Pidf/1048576
#include <benchmark/benchmark.h>
#include <expat.h>
#include <libxml/parser.h>
#include <tinyxml2.h>

#include <memory>
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include <voicecontrol/xml/xml.h>

namespace {

using voicecontrol::XmlNode;
using voicecontrol::XmlParser;

// ---- documents ----

// Appends records made by `record(i)` until `text` reaches about `size` bytes.
template <typename Record>
std::string Generate(size_t size, const std::string& head, const std::string& tail, Record record) {
  std::string text = head;
  for (int i = 0; text.size() + tail.size() < size; ++i) text += record(i);
  return text + tail;
}

std::string Pidf(size_t size) {
  return Generate(
      size,
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<presence xmlns=\"urn:ietf:params:xml:ns:pidf\" "
      "xmlns:dm=\"urn:ietf:params:xml:ns:pidf:data-model\" entity=\"sip:alice@example.com\">\n",
      "</presence>\n", [](int i) {
        const std::string n = std::to_string(i);
        return "  <tuple id=\"t" + n +
               "\">\n"
               "    <status><basic>" +
               (i % 3 ? "open" : "closed") +
               "</basic></status>\n"
               "    <contact priority=\"0.8\">sip:alice@pc" +
               n +
               ".example.com</contact>\n"
               "    <note xml:lang=\"en\">Meeting &amp; lunch until 14:00</note>\n"
               "    <timestamp>2024-05-01T12:00:00Z</timestamp>\n"
               "  </tuple>\n";
      });
}

std::string Rlmi(size_t size) {
  return Generate(size,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<list xmlns=\"urn:ietf:params:xml:ns:rlmi\" uri=\"sip:friends@example.com\" "
                  "version=\"7\" fullState=\"true\">\n  <name xml:lang=\"en\">Buddies</name>\n",
                  "</list>\n", [](int i) {
                    const std::string n = std::to_string(i);
                    return "  <resource uri=\"sip:user" + n +
                           "@example.com\">\n"
                           "    <name>User " +
                           n +
                           "</name>\n"
                           "    <instance id=\"i" +
                           n + "\" state=\"" + (i % 4 ? "active" : "terminated") + "\" cid=\"c" +
                           n +
                           "@example.com\"/>\n"
                           "  </resource>\n";
                  });
}

std::string WatcherInfo(size_t size) {
  return Generate(size,
                  "<?xml version=\"1.0\"?>\n"
                  "<watcherinfo xmlns=\"urn:ietf:params:xml:ns:watcherinfo\" version=\"0\" "
                  "state=\"full\">\n"
                  "  <watcher-list resource=\"sip:alice@example.com\" package=\"presence\">\n",
                  "  </watcher-list>\n</watcherinfo>\n", [](int i) {
                    const std::string n = std::to_string(i);
                    return "    <watcher status=\"" + std::string(i % 5 ? "active" : "pending") +
                           "\" id=\"w" + n +
                           "\" event=\"subscribe\" duration-subscribed=\"3600\" "
                           "display-name=\"Watcher " +
                           n + "\">sip:watcher" + n + "@example.com</watcher>\n";
                  });
}

using Generator = std::string (*)(size_t);

const std::string& Document(Generator generate, size_t size) {
  // Generated once per kind and size; the benchmarks only read them.
  static std::string cache[3][3];
  const int kind = generate == Pidf ? 0 : generate == Rlmi ? 1 : 2;
  const int slot = size <= 1024 ? 0 : size <= 65536 ? 1 : 2;
  std::string& text = cache[kind][slot];
  if (text.empty()) text = generate(size);
  return text;
}

void SetThroughput(benchmark::State& state, const std::string& text) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

// ---- parsers ----

void Ours(benchmark::State& state, Generator generate) {
  const std::string& text = Document(generate, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::unique_ptr<XmlNode> root(XmlParser::Parse(text.c_str()));
    benchmark::DoNotOptimize(root.get());
  }
  SetThroughput(state, text);
}

void Pugixml(benchmark::State& state, Generator generate) {
  const std::string& text = Document(generate, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    pugi::xml_document document;
    const pugi::xml_parse_result result = document.load_buffer(text.data(), text.size());
    if (!result) state.SkipWithError(result.description());
    benchmark::DoNotOptimize(document.first_child().internal_object());
  }
  SetThroughput(state, text);
}

void Tinyxml2(benchmark::State& state, Generator generate) {
  const std::string& text = Document(generate, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
      state.SkipWithError(document.ErrorStr());
    }
    benchmark::DoNotOptimize(document.RootElement());
  }
  SetThroughput(state, text);
}

void Libxml2(benchmark::State& state, Generator generate) {
  const std::string& text = Document(generate, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    xmlDocPtr document = xmlReadMemory(text.data(), static_cast<int>(text.size()), "bench.xml",
                                       nullptr, XML_PARSE_NONET);
    if (document == nullptr) state.SkipWithError("xmlReadMemory failed");
    benchmark::DoNotOptimize(document);
    xmlFreeDoc(document);
  }
  SetThroughput(state, text);
}

void XMLCALL CountStart(void* count, const XML_Char*, const XML_Char**) {
  ++*static_cast<int*>(count);
}
void XMLCALL IgnoreEnd(void*, const XML_Char*) {}
void XMLCALL IgnoreText(void*, const XML_Char*, int) {}

void Expat(benchmark::State& state, Generator generate) {
  const std::string& text = Document(generate, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    int elements = 0;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &elements);
    XML_SetElementHandler(parser, CountStart, IgnoreEnd);
    XML_SetCharacterDataHandler(parser, IgnoreText);
    if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) != XML_STATUS_OK) {
      state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser)));
    }
    XML_ParserFree(parser);
    benchmark::DoNotOptimize(elements);
  }
  SetThroughput(state, text);
}

// ---- output ----

void OursToString(benchmark::State& state, Generator generate) {
  const std::string& text = Document(generate, static_cast<size_t>(state.range(0)));
  std::unique_ptr<XmlNode> root(XmlParser::Parse(text.c_str()));
  size_t printed = 0;
  for (auto _ : state) {
    const std::string out = root->ToString();
    printed = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(printed));
}

void PugixmlSave(benchmark::State& state, Generator generate) {
  const std::string& text = Document(generate, static_cast<size_t>(state.range(0)));
  pugi::xml_document document;
  document.load_buffer(text.data(), text.size());
  size_t printed = 0;
  for (auto _ : state) {
    std::ostringstream out;
    document.document_element().print(out, "", pugi::format_raw);
    printed = out.str().size();
    benchmark::DoNotOptimize(printed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(printed));
}

#define PARSE_BENCHMARKS(kind)                                                       \
  BENCHMARK_CAPTURE(Ours, kind, kind)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);     \
  BENCHMARK_CAPTURE(Pugixml, kind, kind)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);  \
  BENCHMARK_CAPTURE(Tinyxml2, kind, kind)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20); \
  BENCHMARK_CAPTURE(Libxml2, kind, kind)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);  \
  BENCHMARK_CAPTURE(Expat, kind, kind)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);    \
  BENCHMARK_CAPTURE(OursToString, kind, kind)->Arg(1 << 20);                         \
  BENCHMARK_CAPTURE(PugixmlSave, kind, kind)->Arg(1 << 20)

PARSE_BENCHMARKS(Pidf);
PARSE_BENCHMARKS(Rlmi);
PARSE_BENCHMARKS(WatcherInfo);

}  // namespace

BENCHMARK_MAIN();
