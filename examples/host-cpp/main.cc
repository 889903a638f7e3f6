// host-cpp: a C++ host of voicecontrol.
//
//   host-cpp ADDRESS PORT
//
// Issues the six commands against a server running the simulator's session
// model (`voicectl serve`), each once the previous outcome has arrived, and
// checks every outcome. Prints one line per check; exits 0 when all hold,
// 1 when any does not, 2 on a bad command line.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/controller/convert.h>

namespace {

// One sink call, as the main thread sees it.
struct Outcome {
  enum Kind { kError, kResult, kQAllEmpty, kQAllEntry, kQSingle, kNone } kind = kNone;
  int32_t flowId = 0;
  int32_t code = 0;
  std::vector<std::wstring> texts;  // the error text, the result text, or the values
};

// The sink is called on library threads (and on the calling thread for
// connection failures), possibly several at once: it only queues what it
// gets, under a mutex, and wakes the main thread.
class QueueSink : public voicecontrol::VoiceEventSink {
 public:
  void OnError(std::wstring text) override { Push({Outcome::kError, 0, 0, {text}}); }
  void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) override {
    Push({Outcome::kResult, flowId, code, {text}});
  }
  void OnQAllEmpty() override { Push({Outcome::kQAllEmpty, 0, 0, {}}); }
  // The items of a QAll answer are comma-terminated lists on the wire. With
  // several entries the library splits them; a single entry arrives as it
  // travelled, each text with its terminating comma, which is dropped here.
  void OnQAllEntry(std::wstring f1, std::wstring f2, std::wstring f3, std::wstring f4,
                   std::wstring f5, std::wstring f6, std::wstring f7, std::wstring f8) override {
    Outcome entry{Outcome::kQAllEntry, 1004, 0, {f1, f2, f3, f4, f5, f6, f7, f8}};
    for (auto& text : entry.texts) {
      if (!text.empty() && text.back() == L',') text.pop_back();
    }
    Push(std::move(entry));
  }
  void OnQSingleResult(std::wstring v1, std::wstring v2, std::wstring v3, std::wstring v4,
                       std::wstring v5, std::wstring v6, std::wstring v7, std::wstring v8,
                       std::wstring v9, std::wstring v10, std::wstring v11, std::wstring v12,
                       std::wstring v13, std::wstring v14, std::wstring v15, std::wstring v16,
                       std::wstring v17, std::wstring v18) override {
    Push({Outcome::kQSingle, 1005, 0, {v1, v2, v3, v4, v5, v6, v7, v8, v9, v10, v11, v12, v13,
                                       v14, v15, v16, v17, v18}});
  }

  // The next outcome; kNone if none arrives within `seconds`. Every
  // command ends in an outcome within the library's 5-second time-out.
  Outcome Next(int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, std::chrono::seconds(seconds), [this] { return !queue_.empty(); }))
      return Outcome();
    Outcome next = std::move(queue_.front());
    queue_.pop_front();
    return next;
  }

 private:
  void Push(Outcome outcome) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(outcome));
    }
    ready_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Outcome> queue_;
};

// Wide text (UTF-32 on Linux, UTF-16 on Windows) as UTF-8 for printing,
// through the library's own conversion.
std::string Utf8(const std::wstring& text) {
  std::string out(text.size() * 4, '\0');
  const int length = voicecontrol::WideToUtf8(text.c_str(), &out[0], static_cast<int>(out.size()));
  out.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return out;
}

int failures = 0;

void Check(const char* what, bool ok, const Outcome& got) {
  std::string detail;
  for (const auto& text : got.texts) detail += " \"" + Utf8(text) + "\"";
  std::printf("%s %s:%s\n", ok ? "ok  " : "FAIL", what, detail.c_str());
  if (!ok) ++failures;
}

// The next outcome that is not a leftover entry of an earlier QAll answer
// (entries of other sessions may still arrive after the one looked for).
Outcome NextAfterEntries(QueueSink& sink) {
  Outcome outcome = sink.Next(10);
  while (outcome.kind == Outcome::kQAllEntry) outcome = sink.Next(10);
  return outcome;
}

void ExpectResult(QueueSink& sink, const char* what, int32_t flowId, const wchar_t* text) {
  const Outcome got = NextAfterEntries(sink);
  Check(what, got.kind == Outcome::kResult && got.flowId == flowId && got.code == 0 &&
                  got.texts[0] == text,
        got);
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

  // A session of this run's own: the server may hold others.
  const std::wstring id = L"host-cpp-" + std::to_wstring(std::random_device()() % 1000000);
  // Non-ASCII text travels as UTF-8 and comes back unchanged.
  const std::wstring topic = L"weekly sync \u00e9t\u00e9 \u4f1a\u8bae";

  QueueSink sink;  // declared first: outlives the controller
  voicecontrol::VoiceController controller(&sink);
  controller.serverAddress = argv[1];
  controller.serverPort = static_cast<uint16_t>(port);

  controller.Create(id, L"alice", topic, L"alice,bob");
  ExpectResult(sink, "create", 1001, L"created");

  controller.Kick(id, L"bob");
  ExpectResult(sink, "kick", 1002, L"kicked");

  controller.Change(id, L"alice", 7);
  ExpectResult(sink, "change", 1003, L"changed");

  // One entry per session, in id order: wait for this run's.
  controller.QAll();
  Outcome entry = sink.Next(10);
  while (entry.kind == Outcome::kQAllEntry && entry.texts[0] != id) entry = sink.Next(10);
  // A comma inside an item is sent as ';' (the lists are comma-separated).
  Check("qall", entry.kind == Outcome::kQAllEntry && entry.texts[1] == L"alice" &&
                    entry.texts[2] == topic && entry.texts[3] == L"alice;bob" &&
                    entry.texts[4] == L"1" && entry.texts[5] == L"alice" &&
                    entry.texts[6] == L"7",
        entry);

  controller.QSingle(id);
  const Outcome single = NextAfterEntries(sink);
  Check("qsingle", single.kind == Outcome::kQSingle && single.texts[0] == id &&
                       single.texts[1] == L"found" && single.texts[2] == L"alice" &&
                       single.texts[3] == topic && single.texts[4] == L"alice,bob" &&
                       single.texts[5] == L"bob," && single.texts[6] == L"1" &&
                       single.texts[7] == L"alice" && single.texts[8] == L"7",
        single);

  controller.DsCall(id, L"alice", 3600);
  ExpectResult(sink, "dscall", 1006, L"scheduled");

  std::printf("%s\n", failures == 0 ? "host-cpp: every outcome as expected"
                                    : "host-cpp: some outcomes were wrong");
  return failures == 0 ? 0 : 1;
}
