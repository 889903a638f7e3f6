#include "demo.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "controller/VoiceController.h"
#include "platform/codepage.h"
#include "platform/thread.h"
#include "responder.h"

namespace voicectl {

namespace platform = voicecontrol::platform;

namespace {

// Lines from the responder's thread, the receive threads and the main
// thread, one at a time.
class Printer {
 public:
  void Line(const std::string& text) {
    platform::MutexLock lock(&mutex_);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }

 private:
  platform::Mutex mutex_;
};

std::string Quote(const std::wstring& text) {
  return "\"" + platform::WideToUtf8String(text) + "\"";
}

// Prints every callback as it arrives and lets the demo wait for them.
class PrintingSink : public voicecontrol::VoiceEventSink {
 public:
  explicit PrintingSink(Printer* printer) : printer_(printer) {}

  void OnError(std::wstring text) override { Arrived("  OnError(" + Quote(text) + ")", true); }
  void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) override {
    Arrived("  OnCommandResult(" + std::to_string(flowId) + ", " + std::to_string(code) + ", " +
                Quote(text) + ")",
            false);
  }
  void OnQAllEmpty() override { Arrived("  OnQAllEmpty()", false); }
  void OnQAllEntry(std::wstring f1, std::wstring f2, std::wstring f3, std::wstring f4,
                   std::wstring f5, std::wstring f6, std::wstring f7, std::wstring f8) override {
    Arrived("  OnQAllEntry(" + Join({&f1, &f2, &f3, &f4, &f5, &f6, &f7, &f8}) + ")", false);
  }
  void OnQSingleResult(std::wstring v1, std::wstring v2, std::wstring v3, std::wstring v4,
                       std::wstring v5, std::wstring v6, std::wstring v7, std::wstring v8,
                       std::wstring v9, std::wstring v10, std::wstring v11, std::wstring v12,
                       std::wstring v13, std::wstring v14, std::wstring v15, std::wstring v16,
                       std::wstring v17, std::wstring v18) override {
    Arrived("  OnQSingleResult(" +
                Join({&v1, &v2, &v3, &v4, &v5, &v6, &v7, &v8, &v9, &v10, &v11, &v12, &v13, &v14,
                      &v15, &v16, &v17, &v18}) +
                ")",
            false);
  }

  // Waits until `count` callbacks have arrived in all, at most 6 seconds
  // (longer than the controller's own 5-second time-out).
  bool WaitFor(int count) {
    platform::MutexLock lock(&mutex_);
    while (calls_ < count) {
      if (!arrived_.WaitFor(&mutex_, 6000)) return false;
    }
    return true;
  }

  int errors() {
    platform::MutexLock lock(&mutex_);
    return errors_;
  }

 private:
  static std::string Join(std::initializer_list<const std::wstring*> texts) {
    std::string joined;
    for (const std::wstring* text : texts) joined += (joined.empty() ? "" : ", ") + Quote(*text);
    return joined;
  }

  void Arrived(const std::string& line, bool error) {
    printer_->Line(line);
    platform::MutexLock lock(&mutex_);
    ++calls_;
    if (error) ++errors_;
    arrived_.Broadcast();
  }

  Printer* printer_;
  platform::Mutex mutex_;
  platform::ConditionVariable arrived_;
  int calls_ = 0;   // guarded by mutex_
  int errors_ = 0;  // guarded by mutex_
};

// Runs from a directory whose parent receives the two log files.
bool EnterRunDirectory(const std::string& logDir, std::filesystem::path* logs) {
  namespace fs = std::filesystem;
  std::error_code error;
  *logs = logDir.empty() ? fs::temp_directory_path(error) / "voicectl-demo" : fs::path(logDir);
  fs::create_directories(*logs / "run", error);
  if (error) return false;
  fs::current_path(*logs / "run", error);
  return !error;
}

void ShowLog(Printer* printer, const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  printer->Line("  " + path.string() +
                (error ? " (missing)" : " (" + std::to_string(size) + " bytes)"));
}

}  // namespace

int RunDemo(const DemoOptions& options) {
  Printer printer;
  std::filesystem::path logs;
  if (!EnterRunDirectory(options.logDir, &logs)) {
    std::fprintf(stderr, "voicectl: cannot use %s for the logs\n", logs.string().c_str());
    return 1;
  }
  Responder responder([&](const std::string& line) { printer.Line(line); });
  if (!responder.Start()) {
    std::fprintf(stderr, "voicectl: cannot listen on 127.0.0.1\n");
    return 1;
  }
  printer.Line("voicectl demo: responder on 127.0.0.1:" + std::to_string(responder.port()));

  PrintingSink sink(&printer);
  voicecontrol::VoiceController controller(&sink);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = responder.port();

  // Each step: the command, then the number of callbacks its answer brings.
  int expected = 0;
  bool answered = true;
  auto step = [&](const std::string& call, int callbacks, auto command) {
    printer.Line("> " + call);
    command();
    expected += callbacks;
    answered = sink.WaitFor(expected) && answered;
  };
  step("Create(\"conf-1\", \"alice\", \"secret\", \"8\")", 1,
       [&] { controller.Create(L"conf-1", L"alice", L"secret", L"8"); });
  step("Kick(\"conf-1\", \"bob\")", 1, [&] { controller.Kick(L"conf-1", L"bob"); });
  step("Change(\"conf-1\", \"carol\", 2)", 1, [&] { controller.Change(L"conf-1", L"carol", 2); });
  step("QAll()", 2, [&] { controller.QAll(); });
  step("QSingle(\"conf-1\")", 1, [&] { controller.QSingle(L"conf-1"); });
  step("DsCall(\"conf-1\", \"dave\", 1200)", 1,
       [&] { controller.DsCall(L"conf-1", L"dave", 1200); });

  printer.Line("logs (last request and last answer):");
  ShowLog(&printer, logs / "SendVoiceMsg.log");
  ShowLog(&printer, logs / "RecvVoiceMsg.log");
  if (!answered || sink.errors() > 0) {
    printer.Line("voicectl demo: some commands failed");
    return 1;
  }
  return 0;
}

}  // namespace voicectl
