// winhost: a Windows host program of voicecontrol.dll.
//
//   winhost.exe ADDRESS PORT [--chinese]
//
// Does what every host does: initialises Windows Sockets and COM
// (multithreaded, so that the library's receive threads may use the DOM),
// loads the library, implements VoiceEventSink, and issues the six commands
// one after the other, each once the previous outcome has arrived. Every
// callback is printed as one line of UTF-8. Exit status: 0 when all six
// commands got a result, 1 when any got an error or no outcome, 2 on a bad
// command line or a failed start.
//
// With --chinese the session's texts are Chinese, and QSingle must bring
// them back unchanged: run it in a Chinese locale (code page 936) against a
// server that answers in GB2312, and every character makes the round trip
// through the wire's UTF-8 request and the server's GB2312 answer.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>

namespace {

using voicecontrol::VoiceController;
using voicecontrol::VoiceEventSink;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &out[0], needed, nullptr, nullptr);
  return out;
}

// Prints the callbacks and lets the main thread wait for a command's
// outcome: an error, a result, or the end of a QAll answer.
class PrintingSink : public VoiceEventSink {
 public:
  void OnError(std::wstring text) override {
    Print("OnError \"" + Utf8(text) + "\"");
    Finish(false);
  }

  void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) override {
    Print("OnCommandResult " + std::to_string(flowId) + " " + std::to_string(code) + " \"" +
          Utf8(text) + "\"");
    Finish(true);
  }

  void OnQAllEmpty() override {
    Print("OnQAllEmpty");
    Finish(true);
  }

  // Entries come one call each; the answer is complete with the last, which
  // the host cannot tell from the calls, so the main thread also accepts a
  // quiet period after the first entry (see WaitForOutcome).
  void OnQAllEntry(std::wstring f1, std::wstring f2, std::wstring f3, std::wstring f4,
                   std::wstring f5, std::wstring f6, std::wstring f7, std::wstring f8) override {
    Print("OnQAllEntry " + Join({&f1, &f2, &f3, &f4, &f5, &f6, &f7, &f8}));
    std::lock_guard<std::mutex> lock(mutex_);
    ++entries_;
    changed_.notify_all();
  }

  void OnQSingleResult(std::wstring v1, std::wstring v2, std::wstring v3, std::wstring v4,
                       std::wstring v5, std::wstring v6, std::wstring v7, std::wstring v8,
                       std::wstring v9, std::wstring v10, std::wstring v11, std::wstring v12,
                       std::wstring v13, std::wstring v14, std::wstring v15, std::wstring v16,
                       std::wstring v17, std::wstring v18) override {
    Print("OnQSingleResult " + Join({&v1, &v2, &v3, &v4, &v5, &v6, &v7, &v8, &v9, &v10, &v11, &v12,
                                     &v13, &v14, &v15, &v16, &v17, &v18}));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lastSingle_ = {v1, v2, v3, v4, v5};
    }
    Finish(true);
  }

  // The first five values of the last QSingle answer.
  std::vector<std::wstring> LastSingle() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastSingle_;
  }

  void Arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = false;
    succeeded_ = false;
    entries_ = 0;
  }

  // True when the command got a result within the library's 5-second
  // deadline plus a margin.
  bool WaitForOutcome() {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      if (done_) return succeeded_;
      const int seen = entries_;
      const auto wake =
          seen > 0 ? std::chrono::steady_clock::now() + std::chrono::milliseconds(500) : deadline;
      if (!changed_.wait_until(lock, wake < deadline ? wake : deadline,
                               [&] { return done_ || entries_ != seen; })) {
        if (seen > 0) return true;  // QAll entries stopped coming: the answer is whole
        return false;               // no outcome at all
      }
    }
  }

 private:
  static std::string Join(std::initializer_list<const std::wstring*> values) {
    std::string line;
    for (const std::wstring* value : values) {
      if (!line.empty()) line += " ";
      line += "\"" + Utf8(*value) + "\"";
    }
    return line;
  }

  void Print(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

  void Finish(bool succeeded) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    succeeded_ = succeeded;
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  bool succeeded_ = false;
  int entries_ = 0;
  std::vector<std::wstring> lastSingle_;
};

// Loads the library by name, as a host that picks it up at run time would,
// and shows that the classes are exported from it. The import library has
// bound the same module already; the explicit load finds and pins it.
bool LoadLibraryExplicitly() {
  HMODULE library = LoadLibraryW(L"voicecontrol.dll");
  if (library == nullptr) {
    std::fprintf(stderr, "winhost: LoadLibrary(voicecontrol.dll) failed: %lu\n", GetLastError());
    return false;
  }
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(library, path, MAX_PATH);
  const char* const kQAll = "_ZN12voicecontrol15VoiceController4QAllEv";
  const bool exported = GetProcAddress(library, kQAll) != nullptr;
  std::printf("loaded %s (VoiceController::QAll %s)\n", Utf8(path).c_str(),
              exported ? "exported" : "NOT exported");
  return exported;
}

struct SessionTexts {
  std::wstring id, owner, title, members;
};

int RunCommands(const char* address, uint16_t port, const SessionTexts& texts) {
  PrintingSink sink;
  VoiceController controller(&sink);
  controller.serverAddress = address;
  controller.serverPort = port;

  int failures = 0;
  auto run = [&](const char* name, auto command) {
    std::printf("> %s\n", name);
    std::fflush(stdout);
    sink.Arm();
    command();
    if (!sink.WaitForOutcome()) {
      std::printf("winhost: %s got no result\n", name);
      ++failures;
    }
  };
  run("CREATE", [&] { controller.Create(texts.id, texts.owner, texts.title, texts.members); });
  run("KICK", [&] { controller.Kick(texts.id, L"bob"); });
  run("CHANGE", [&] { controller.Change(texts.id, texts.owner, 7); });
  run("QALL", [&] { controller.QAll(); });
  run("QSINGLE", [&] { controller.QSingle(texts.id); });
  const std::vector<std::wstring> expected = {texts.id, L"found", texts.owner, texts.title,
                                              texts.members};
  if (sink.LastSingle() != expected) {
    std::printf("QSINGLE did not bring the session's texts back unchanged\n");
    ++failures;
  }
  run("DSCALL", [&] { controller.DsCall(texts.id, texts.owner, 3600); });
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool chinese = argc == 4 && std::string(argv[3]) == "--chinese";
  if (argc != 3 && !chinese) {
    std::fprintf(stderr, "usage: winhost ADDRESS PORT [--chinese]\n");
    return 2;
  }
  const SessionTexts texts =
      chinese ? SessionTexts{L"\u4f1a\u8bae1", L"\u5f20\u4e09", L"\u6bcf\u5468\u4f8b\u4f1a",
                             L"\u5f20\u4e09,\u674e\u56db,bob"}
              : SessionTexts{L"s1", L"alice", L"weekly sync", L"alice,bob"};
  const long port = std::strtol(argv[2], nullptr, 10);
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "winhost: bad port %s\n", argv[2]);
    return 2;
  }
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    std::fprintf(stderr, "winhost: WSAStartup failed\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    std::fprintf(stderr, "winhost: CoInitializeEx failed\n");
    WSACleanup();
    return 2;
  }
  int status = 2;
  if (LoadLibraryExplicitly()) status = RunCommands(argv[1], static_cast<uint16_t>(port), texts);
  CoUninitialize();
  WSACleanup();
  return status;
}
