// Parse throughput of XmlParser::Parse against pugixml (DOM), tinyxml2 (DOM),
// libxml2 (xmlReadMemory, DOM) and expat (SAX) on the same bytes: presence
// documents (PIDF tuples, RLMI lists, watcher-information lists) generated
// here at about 1 KB, 64 KB and 1 MB, and a PIDF document as real servers
// send it, with many namespace-prefixed attributes and notes near the
// parser's limit on one run of text (at about 4 KB, 64 KB and 1 MB). Every
// DOM is built and destroyed inside the timed loop. Also times
// XmlNode::ToString of the 1 MB trees against pugixml's save.
//
// At the end the run prints our throughput over pugixml's for every case
// (medians when run with --benchmark_repetitions):
//
//   xml_bench --benchmark_filter='^(Ours|Pugixml)' --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <expat.h>
#include <libxml/parser.h>
#include <tinyxml2.h>

#include <cstdio>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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

// A person element of a rich-presence PIDF document: most attributes carry
// a namespace prefix, and the note is one run of text a little under the
// 2047 characters the parser takes in one run, with a few references and
// line breaks in it as people type them.
std::string NamespacedPidf(size_t size) {
  static const std::string kSentence =
      "Working from the Berlin office this week; calls after 16:00 &amp; before 09:00 go to "
      "voicemail, urgent matters to the team line. ";
  return Generate(
      size,
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<presence xmlns=\"urn:ietf:params:xml:ns:pidf\" "
      "xmlns:dm=\"urn:ietf:params:xml:ns:pidf:data-model\" "
      "xmlns:rpid=\"urn:ietf:params:xml:ns:pidf:rpid\" "
      "xmlns:cipid=\"urn:ietf:params:xml:ns:pidf:cipid\" "
      "xmlns:caps=\"urn:ietf:params:xml:ns:pidf:caps\" entity=\"sip:alice@example.com\">\n",
      "</presence>\n", [](int i) {
        const std::string n = std::to_string(i);
        std::string note;
        // 1,900 to 2,040 characters as written, ending on a full sentence
        // or cut inside one.
        const size_t length = 1900 + static_cast<size_t>(i * 37 % 141);
        while (note.size() < length) note += kSentence;
        note.resize(length);
        // A cut through "&amp;" would leave a bare '&': cut before it.
        const size_t reference = note.find('&', note.size() - 4);
        if (reference != std::string::npos) note.resize(reference);
        note[note.find(' ', note.size() / 2)] = '\n';
        return "  <dm:person dm:id=\"p" + n +
               "\" rpid:class=\"home\" rpid:from=\"2024-05-01T12:00:00Z\" "
               "rpid:until=\"2024-05-01T18:00:00Z\" xml:lang=\"en\" cipid:display-name=\"Alice " +
               n +
               "\">\n"
               "    <rpid:activities rpid:since=\"2024-05-01T12:00:00Z\"><rpid:meeting/>"
               "</rpid:activities>\n"
               "    <caps:servcaps caps:audio=\"true\" caps:video=\"false\" caps:text=\"true\" "
               "caps:automata=\"false\"/>\n"
               "    <dm:note xml:lang=\"en\">" +
               note +
               "</dm:note>\n"
               "  </dm:person>\n";
      });
}

using Generator = std::string (*)(size_t);

const std::string& Document(Generator generate, size_t size) {
  // Generated once per kind and size; the benchmarks only read them.
  static std::map<std::pair<Generator, size_t>, std::string> cache;
  std::string& text = cache[{generate, size}];
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

#define PARSE_BENCHMARKS(kind, smallest)                                                    \
  BENCHMARK_CAPTURE(Ours, kind, kind)->Arg(smallest)->Arg(1 << 16)->Arg(1 << 20);          \
  BENCHMARK_CAPTURE(Pugixml, kind, kind)->Arg(smallest)->Arg(1 << 16)->Arg(1 << 20);       \
  BENCHMARK_CAPTURE(Tinyxml2, kind, kind)->Arg(smallest)->Arg(1 << 16)->Arg(1 << 20);      \
  BENCHMARK_CAPTURE(Libxml2, kind, kind)->Arg(smallest)->Arg(1 << 16)->Arg(1 << 20);       \
  BENCHMARK_CAPTURE(Expat, kind, kind)->Arg(smallest)->Arg(1 << 16)->Arg(1 << 20);         \
  BENCHMARK_CAPTURE(OursToString, kind, kind)->Arg(1 << 20);                               \
  BENCHMARK_CAPTURE(PugixmlSave, kind, kind)->Arg(1 << 20)

PARSE_BENCHMARKS(Pidf, 1 << 10);
PARSE_BENCHMARKS(Rlmi, 1 << 10);
PARSE_BENCHMARKS(WatcherInfo, 1 << 10);
// One person with its long note is about 2.5 KB.
PARSE_BENCHMARKS(NamespacedPidf, 1 << 12);

// The console output, then our throughput over pugixml's for every case
// that both ran: Ours against Pugixml, OursToString against PugixmlSave.
// Medians are used when the run has them, single results otherwise.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const auto rate = run.counters.find("bytes_per_second");
      if (rate == run.counters.end()) continue;
      Rate& entry = rates_[run.run_name.str()];
      if (run.run_type == Run::RT_Iteration) {
        if (!entry.isMedian) entry.value = rate->second.value;
      } else if (run.aggregate_name == "median") {
        entry.value = rate->second.value;
        entry.isMedian = true;
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::vector<std::pair<std::string, double>> ratios;
    bool medians = false;
    for (const auto& entry : rates_) {
      const std::string& name = entry.first;
      std::string peer;
      if (name.rfind("OursToString/", 0) == 0) {
        peer = "PugixmlSave/" + name.substr(13);
      } else if (name.rfind("Ours/", 0) == 0) {
        peer = "Pugixml/" + name.substr(5);
      } else {
        continue;
      }
      const auto peerRate = rates_.find(peer);
      if (peerRate == rates_.end() || peerRate->second.value <= 0) continue;
      ratios.emplace_back(name, entry.second.value / peerRate->second.value);
      medians = medians || entry.second.isMedian;
    }
    if (ratios.empty()) return;
    std::printf("\nours / pugixml throughput (%s; above 1 is ahead)\n",
                medians ? "medians" : "single runs");
    for (const auto& ratio : ratios) std::printf("  %-36s %5.2f\n", ratio.first.c_str(), ratio.second);
  }

 private:
  struct Rate {
    double value = 0;
    bool isMedian = false;
  };
  std::map<std::string, Rate> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
