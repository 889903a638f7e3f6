// host-cpp: a C++ host of voicecontrol.
//
//   host-cpp ADDRESS PORT
//
// Issues the six commands against a server running the simulator's session
// model (`voicectl serve`) and checks every outcome. Each command returns
// its own outcome (voicecontrol::OutcomeCommands): a std::future, or a
// callback. Prints one line per check; exits 0 when all hold, 1 when any
// does not, 2 on a bad command line.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <vector>

#include <voicecontrol/controller/Outcome.h>
#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/controller/convert.h>

namespace {

using voicecontrol::Outcome;

// Wide text (UTF-32 on Linux, UTF-16 on Windows) as UTF-8 for printing,
// through the library's own conversion.
std::string Utf8(const std::wstring& text) {
  std::string out(text.size() * 4, '\0');
  const int length = voicecontrol::WideToUtf8(text.c_str(), &out[0], static_cast<int>(out.size()));
  out.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return out;
}

// An outcome in one line.
std::string Describe(const Outcome& outcome) {
  if (const auto* error = outcome.error()) {
    return "error \"" + Utf8(error->text) + "\" (" + error->detail + ")";
  }
  if (const auto* result = outcome.result()) {
    return "result " + std::to_string(result->flowId) + " " + std::to_string(result->code) +
           " \"" + Utf8(result->text) + "\"";
  }
  if (const auto* entries = outcome.entries()) {
    return std::to_string(entries->size()) + " entries";
  }
  std::string values = "values";
  for (const std::wstring& value : *outcome.values()) values += " \"" + Utf8(value) + "\"";
  return values;
}

int failures = 0;

void Check(const char* what, bool ok, const Outcome& got) {
  std::printf("%s %s: %s\n", ok ? "ok  " : "FAIL", what, Describe(got).c_str());
  if (!ok) ++failures;
}

// Every command ends in an outcome within the library's time-outs (5
// seconds to connect, 5 more for the answer); waiting longer is a fault.
Outcome Await(std::future<Outcome> future) {
  if (future.wait_for(std::chrono::seconds(15)) != std::future_status::ready) {
    return Outcome::FromError({L"no outcome", "the host gave up waiting"});
  }
  return future.get();
}

void ExpectResult(const char* what, std::future<Outcome> future, int32_t flowId,
                  const wchar_t* text) {
  const Outcome got = Await(std::move(future));
  const auto* result = got.result();
  Check(what, result != nullptr && result->flowId == flowId && result->code == 0 &&
                  result->text == text,
        got);
}

// The items of a QAll answer are comma-terminated lists on the wire. With
// several entries the library splits them; a single entry arrives as it
// travelled, each text with its terminating comma, which is dropped here.
voicecontrol::QAllEntry WithoutTrailingCommas(voicecontrol::QAllEntry entry) {
  for (std::wstring& text : entry) {
    if (!text.empty() && text.back() == L',') text.pop_back();
  }
  return entry;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ADDRESS PORT\n", argv[0]);
    return 2;
  }
  const long port = std::strtol(argv[2], nullptr, 10);
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "host-cpp: bad port %s\n", argv[2]);
    return 2;
  }

  // Sessions of this run's own: the server may hold others.
  const std::wstring id = L"host-cpp-" + std::to_wstring(std::random_device()() % 1000000);
  const std::wstring other = id + L"-b";
  // Non-ASCII text travels as UTF-8 and comes back unchanged.
  const std::wstring topic = L"weekly sync \u00e9t\u00e9 \u4f1a\u8bae";

  // No sink: every outcome comes back to the command that asked for it.
  voicecontrol::VoiceController controller(nullptr);
  controller.serverAddress = argv[1];
  controller.serverPort = static_cast<uint16_t>(port);
  voicecontrol::OutcomeCommands commands(controller);

  // Two commands of the same kind in flight at once: each future gets the
  // answer to its own request.
  std::future<Outcome> first = commands.Create(id, L"alice", topic, L"alice,bob");
  std::future<Outcome> second = commands.Create(other, L"carol", L"retro", L"carol");
  ExpectResult("create", std::move(first), 1001, L"created");
  ExpectResult("create another", std::move(second), 1001, L"created");

  ExpectResult("kick", commands.Kick(id, L"bob"), 1002, L"kicked");
  ExpectResult("change", commands.Change(id, L"alice", 7), 1003, L"changed");

  // All entries of the answer at once, one per session in id order.
  const Outcome all = Await(commands.QAll());
  bool found = false;
  if (const auto* entries = all.entries()) {
    for (const voicecontrol::QAllEntry& raw : *entries) {
      const voicecontrol::QAllEntry entry = WithoutTrailingCommas(raw);
      // A comma inside an item is sent as ';' (the lists are comma-separated).
      found = found || (entry[0] == id && entry[1] == L"alice" && entry[2] == topic &&
                        entry[3] == L"alice;bob" && entry[4] == L"1" && entry[5] == L"alice" &&
                        entry[6] == L"7");
    }
  }
  Check("qall", found, all);

  // The callback form: called once, with the whole outcome, on the thread
  // that delivers it.
  std::promise<Outcome> delivered;
  commands.QSingle(id, [&delivered](const Outcome& outcome) { delivered.set_value(outcome); });
  const Outcome single = Await(delivered.get_future());
  const auto* values = single.values();
  Check("qsingle", values != nullptr && (*values)[0] == id && (*values)[1] == L"found" &&
                       (*values)[2] == L"alice" && (*values)[3] == topic &&
                       (*values)[4] == L"alice,bob" && (*values)[5] == L"bob," &&
                       (*values)[6] == L"1" && (*values)[7] == L"alice" && (*values)[8] == L"7",
        single);

  ExpectResult("dscall", commands.DsCall(id, L"alice", 3600), 1006, L"scheduled");

  // A failure is an outcome too, with the library's text and its reason.
  const Outcome refused = Await(commands.Kick(std::wstring(300, L'x'), L"bob"));
  Check("too long an argument", refused.error() != nullptr &&
                                    refused.error()->text == L"param error.",
        refused);

  std::printf("%s\n", failures == 0 ? "host-cpp: every outcome as expected"
                                    : "host-cpp: some outcomes were wrong");
  return failures == 0 ? 0 : 1;
}
