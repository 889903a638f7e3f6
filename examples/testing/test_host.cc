// A host's test against the simulator, through its admin interface: start
// `voicectl serve --admin 127.0.0.1:0`, queue a fault, run a command
// through the library, read the journal. libcurl speaks HTTP to the admin
// interface and nlohmann-json reads its answers.
//
//   c++ -std=c++17 test_host.cc $(pkg-config --cflags --libs voicecontrol libcurl)
//   ./a.out    # voicectl on PATH
#include <curl/curl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include <voicecontrol/controller/Outcome.h>

extern char** environ;

// voicectl serve on free ports, with its admin interface, for the lifetime
// of the object.
class Simulator {
 public:
  Simulator() {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>("voicectl"), const_cast<char*>("serve"),
                    const_cast<char*>("--listen"), const_cast<char*>("127.0.0.1:0"),
                    const_cast<char*>("--admin"), const_cast<char*>("127.0.0.1:0"), nullptr};
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // "listening on 127.0.0.1:PORT (...)", then "admin on 127.0.0.1:PORT".
    FILE* lines = fdopen(out[0], "r");
    if (std::fscanf(lines, "listening on %*[0-9.]:%hu%*[^\n] admin on %*[0-9.]:%hu", &port,
                    &adminPort) != 2) {
      port = adminPort = 0;
    }
    std::fclose(lines);
  }
  ~Simulator() {
    if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
  }

  // One admin request; its JSON answer.
  nlohmann::json Call(const char* method, const std::string& path, const std::string& body = "") {
    std::string url = "http://127.0.0.1:" + std::to_string(adminPort) + path, answer;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    if (!body.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t n, void* to) {
      static_cast<std::string*>(to)->append(data, n);
      return n;
    });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return result == CURLE_OK ? nlohmann::json::parse(answer) : nlohmann::json();
  }

  unsigned short port = 0, adminPort = 0;

 private:
  pid_t pid_ = 0;
};

int main() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  Simulator server;
  server.Call("POST", "/api/queue", R"({"kind": "QALL", "fault": {"reset_after_headers": true}})");

  voicecontrol::VoiceController controller(nullptr);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = server.port;
  voicecontrol::OutcomeCommands commands(controller);
  const voicecontrol::Outcome first = commands.QAll().get();   // the fault: "timeout."
  const voicecontrol::Outcome second = commands.QAll().get();  // correct again: no sessions

  const nlohmann::json seen = server.Call("GET", "/api/journal?kind=QALL")["requests"];
  const bool passed = first.error() != nullptr && first.error()->text == L"timeout." &&
                      second.entries() != nullptr && second.entries()->empty() &&
                      seen.size() == 2 && seen[0]["fault"] == "reset-after-headers" &&
                      seen[1]["status"] == 200;
  std::printf("%s\n", passed ? "passed" : "FAILED");
  curl_global_cleanup();
  return passed ? 0 : 1;
}
