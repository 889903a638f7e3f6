// What the controller does with every answer: HttpXmlRsp::Parse and reading
// FlowID, Seq_No, FieldNum and all field values, for answers of 2, 18, 100
// and 1000 values; beside it, libxml2 (the DOM's parser) and pugixml loading
// the 18-value body alone.
//
// At the end the binary prints what matters: time per value read at 1000
// values against 18 (linear reading keeps it near 1), and the whole 18-value
// read next to the bare loads. The figures use CPU time, which other load on
// the machine disturbs less than wall time; with --benchmark_repetitions
// they use the medians.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdio>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include <voicecontrol/interface/HttpXmlReq.h>

namespace {

using voicecontrol::HttpXmlRsp;

// The answer a server sends: a QSINGLE-like list of short texts.
std::string AnswerOnTheWire(int values) {
  HttpXmlRsp answer;
  answer.CreateBody();
  answer.SetStatus(200);
  answer.SetSeqNo(42);
  answer.SetFlowID(1005);
  answer.SetFieldNum(values);
  for (int i = 0; i < values; ++i) answer.AddFieldValue(L"member-" + std::to_wstring(i) + L",");
  std::string wire;
  answer.Serialize(&wire);
  return wire;
}

std::string BodyOf(const std::string& wire) { return wire.substr(wire.find("\r\n\r\n") + 4); }

void BM_ParseAndReadAll(benchmark::State& state) {
  const int values = static_cast<int>(state.range(0));
  const std::string wire = AnswerOnTheWire(values);
  for (auto _ : state) {
    HttpXmlRsp reply;
    reply.CreateBody();
    if (reply.Parse(wire.c_str(), static_cast<int>(wire.size())) != 0) {
      state.SkipWithError("answer did not parse");
      return;
    }
    benchmark::DoNotOptimize(reply.GetFlowID());
    benchmark::DoNotOptimize(reply.GetSeqNo());
    benchmark::DoNotOptimize(reply.GetFieldNum());
    for (int i = 0; i < values; ++i) benchmark::DoNotOptimize(reply.GetNextFieldValue());
  }
  state.SetItemsProcessed(state.iterations() * values);
}
BENCHMARK(BM_ParseAndReadAll)->Arg(2)->Arg(18)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_PugixmlLoadBody(benchmark::State& state) {
  const std::string body = BodyOf(AnswerOnTheWire(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    pugi::xml_document document;
    benchmark::DoNotOptimize(document.load_buffer(body.data(), body.size()));
  }
}
BENCHMARK(BM_PugixmlLoadBody)->Arg(18)->Unit(benchmark::kMicrosecond);

void BM_Libxml2LoadBody(benchmark::State& state) {
  const std::string body = BodyOf(AnswerOnTheWire(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    xmlDocPtr document = xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                                       XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_IGNORE_ENC);
    benchmark::DoNotOptimize(document);
    xmlFreeDoc(document);
  }
}
BENCHMARK(BM_Libxml2LoadBody)->Arg(18)->Unit(benchmark::kMicrosecond);

// Prints the usual table, then the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration || median) {
        microseconds_[run.run_name.str()] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const double per_value_18 = Time("BM_ParseAndReadAll/18") / 18;
    const double per_value_1000 = Time("BM_ParseAndReadAll/1000") / 1000;
    const double whole_18 = Time("BM_ParseAndReadAll/18");
    if (per_value_18 <= 0 || per_value_1000 <= 0) return;
    std::printf(
        "\nper value read: %.3f us at 18 values, %.3f us at 1000 values: ratio %.2f "
        "(goal <= 2)\n",
        per_value_18, per_value_1000, per_value_1000 / per_value_18);
    std::printf(
        "18-value answer: parse + read %.2f us (goal < 15); load alone: libxml2 %.2f us, "
        "pugixml %.2f us\n",
        whole_18, Time("BM_Libxml2LoadBody/18"), Time("BM_PugixmlLoadBody/18"));
  }

 private:
  double Time(const std::string& name) const {
    const auto found = microseconds_.find(name);
    return found == microseconds_.end() ? 0 : found->second;
  }

  std::map<std::string, double> microseconds_;
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
