// cost_driver CLIENT COMMAND COUNT PORT: COUNT commands of one kind, one
// after the other, each awaited before the next, through one client, against
// a server on 127.0.0.1:PORT. bench/cost/cost.py runs it under callgrind and
// strace at two counts; the difference divided by the difference of the
// counts is what one command costs, start-up and shut-down cancelling out.
//
// CLIENT   floor  raw POSIX calls: connect, send, read the whole answer,
//                 close, and the two log records replaced in place; what
//                 any conforming client must at least do
//          cpp    VoiceController with a sink that wakes the caller
//          c      the C interface (vc_*), woken by on_done
//          hd     the C interface driven from this thread's poll loop
//                 (vc_use_host_loop, vc_process): no library thread
// COMMAND  qsingle (session s01), qall (expects 10 entries), create
//          (session s01 again, which the server refuses as existing: the
//          answer has the shape of any CREATE result, and the server's
//          table, which QALL lists, stays as it is)
//
// The answers are checked, so that a run that failed fast is never taken
// for a cheap one: any error, or an answer of another shape, fails the
// program.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <time.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/voicecontrol.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum class Command { kQSingle, kQAll, kCreate };

constexpr int kQAllEntries = 10;

// ---------------------------------------------------------------- floor

// The request as the library would send it, made once at start-up: the
// floor's per-command work starts at the socket.
std::string FloorRequest(Command command) {
  using namespace voicecontrol;
  HttpXmlReq request;
  request.CreateBody();
  request.SetSeqNo(1);
  switch (command) {
    case Command::kQSingle:
      request.SetMethod(kHttpXmlQsingle);
      request.SetFlowID(1005);
      request.SetFieldNum(1);
      request.AddFieldValue(L"s01");
      break;
    case Command::kQAll:
      request.SetMethod(kHttpXmlQall);
      request.SetFlowID(1004);
      request.SetFieldNum(0);
      break;
    case Command::kCreate:
      request.SetMethod(kHttpXmlCreate);
      request.SetFlowID(1001);
      request.SetFieldNum(4);
      request.AddFieldValue(L"s01");
      request.AddFieldValue(L"alice");
      request.AddFieldValue(L"weekly sync");
      request.AddFieldValue(L"alice,bob");
      break;
  }
  std::string bytes;
  request.Serialize(&bytes);
  return bytes;
}

// True once `data` holds the header block and as many body bytes as its
// Content-Length says.
bool Complete(const char* data, size_t size) {
  const void* end = memmem(data, size, "\r\n\r\n", 4);
  if (end == nullptr) return false;
  const size_t head = static_cast<size_t>(static_cast<const char*>(end) - data) + 4;
  const void* field = memmem(data, head, "Content-Length:", 15);
  size_t length = 0;
  if (field != nullptr) {
    for (const char* p = static_cast<const char*>(field) + 15;
         *p == ' ' || (*p >= '0' && *p <= '9'); ++p) {
      if (*p != ' ') length = length * 10 + static_cast<size_t>(*p - '0');
    }
  }
  return size >= head + length;
}

// One record replacing the file's content in place: the marker as
// UTF-16LE, then the message, cut to what was written.
void WriteRecord(const char* path, const char (&marker)[15], const char* data, size_t size) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  iovec parts[2] = {{const_cast<char*>(marker), 14}, {const_cast<char*>(data), size}};
  const ssize_t written = ::writev(fd, parts, 2);
  if (written >= 0 && ::ftruncate(fd, written) != 0) {
    // Best effort, as the library's logs: no command depends on them.
  }
  ::close(fd);
}

constexpr char kSendMarker[15] = "-\0-\0-\0>\0 \0\r\0\n\0";
constexpr char kReceiveMarker[15] = "<\0-\0-\0-\0 \0\r\0\n\0";

bool FloorRoundTrip(const std::string& request, const sockaddr_in& server, const char* expected) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 ||
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(request.size())) {
    ::close(fd);
    return false;
  }
  WriteRecord("../SendVoiceMsg.log", kSendMarker, request.data(), request.size());
  static char answer[16384];
  size_t size = 0;
  while (!Complete(answer, size)) {
    const ssize_t got = ::recv(fd, answer + size, sizeof answer - size, 0);
    if (got <= 0) {
      ::close(fd);
      return false;
    }
    size += static_cast<size_t>(got);
  }
  ::close(fd);
  WriteRecord("../RecvVoiceMsg.log", kReceiveMarker, answer, size);
  return memmem(answer, size, expected, strlen(expected)) != nullptr;
}

int RunFloor(Command command, long count, uint16_t port) {
  const std::string request = FloorRequest(command);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // A marker of the answer's kind: the tenth QALL entry's id, QSINGLE's
  // "found", CREATE's refusal.
  const char* expected = command == Command::kQAll      ? "s10,"
                         : command == Command::kQSingle ? "found"
                                                        : "session exists";
  for (long i = 0; i < count; ++i) {
    if (!FloorRoundTrip(request, server, expected)) {
      std::fprintf(stderr, "cost_driver: floor round trip %ld failed\n", i);
      return 1;
    }
  }
  return 0;
}

// ---------------------------------------------------------------- waiting

// Lets the caller sleep until the library's thread has finished an outcome.
// A semaphore, so that waiting costs what it must: the library's thread
// posts (one wake-up) and the caller waits (one sleep). A condition
// variable would add a third call, the wake-up of its mutex, which glibc
// marks contended whenever a wait takes it back.
class Outcomes {
 public:
  Outcomes() { sem_init(&posted_, 0, 0); }
  ~Outcomes() { sem_destroy(&posted_); }
  Outcomes(const Outcomes&) = delete;
  Outcomes& operator=(const Outcomes&) = delete;

  void Finish(bool good) {
    if (!good) ++bad_;
    ++finished_;
    sem_post(&posted_);
  }
  // False when the outcome has not come within a minute (valgrind is
  // slow, but not that slow): an answer of the wrong shape may never finish
  // the C++ sink's count.
  bool WaitFor(long total) {
    while (finished_ < total) {
      timespec deadline{};
      clock_gettime(CLOCK_REALTIME, &deadline);
      deadline.tv_sec += 60;
      if (sem_timedwait(&posted_, &deadline) != 0 && errno != EINTR) return false;
    }
    return true;
  }
  long bad() const { return bad_; }
  long finished() const { return finished_; }

 private:
  sem_t posted_;
  std::atomic<long> finished_{0};
  std::atomic<long> bad_{0};
};

// ---------------------------------------------------------------- C++

class Sink : public voicecontrol::VoiceEventSink {
 public:
  explicit Sink(Outcomes* outcomes) : outcomes_(outcomes) {}
  void OnError(std::wstring) override { outcomes_->Finish(false); }
  void OnCommandResult(int32_t flowId, int32_t code, std::wstring) override {
    outcomes_->Finish(flowId == 1001 && code == 1);
  }
  void OnQAllEmpty() override { outcomes_->Finish(false); }
  // Called on one thread per answer, so the count needs no lock.
  void OnQAllEntry(std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                   std::wstring, std::wstring, std::wstring) override {
    if (++entries_ == kQAllEntries) {
      entries_ = 0;
      outcomes_->Finish(true);
    }
  }
  void OnQSingleResult(std::wstring, std::wstring found, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring) override {
    outcomes_->Finish(found == L"found");
  }

 private:
  Outcomes* outcomes_;
  int entries_ = 0;
};

int RunCpp(Command command, long count, uint16_t port) {
  Outcomes outcomes;
  Sink sink(&outcomes);
  {
    voicecontrol::VoiceController controller(&sink);
    controller.serverAddress = "127.0.0.1";
    controller.serverPort = port;
    for (long i = 0; i < count; ++i) {
      switch (command) {
        case Command::kQSingle:
          controller.QSingle(L"s01");
          break;
        case Command::kQAll:
          controller.QAll();
          break;
        case Command::kCreate:
          controller.Create(L"s01", L"alice", L"weekly sync", L"alice,bob");
          break;
      }
      if (!outcomes.WaitFor(i + 1)) std::_Exit(1);
    }
  }
  return outcomes.bad() == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- C

struct CState {
  Outcomes outcomes;
  bool good = false;  // the current command's outcome so far
  int entries = 0;
};

void VC_CALL OnError(void* user, void*, const char*) { static_cast<CState*>(user)->good = false; }
void VC_CALL OnCommandResult(void* user, void*, int32_t flowId, int32_t code, const char*) {
  static_cast<CState*>(user)->good = flowId == 1001 && code == 1;
}
void VC_CALL OnQAllEmpty(void* user, void*) { static_cast<CState*>(user)->good = false; }
void VC_CALL OnQAllEntry(void* user, void*, const char* const*) {
  CState* state = static_cast<CState*>(user);
  state->good = ++state->entries == kQAllEntries;
}
void VC_CALL OnQSingleResult(void* user, void*, const char* const* values) {
  static_cast<CState*>(user)->good = std::strcmp(values[1], "found") == 0;
}
void VC_CALL OnDone(void* user, void*) {
  CState* state = static_cast<CState*>(user);
  const bool good = state->good;
  state->good = false;
  state->entries = 0;
  state->outcomes.Finish(good);
}

// Issues `command` on the C controller `controller`.
vc_status IssueC(vc_controller* controller, Command command) {
  switch (command) {
    case Command::kQSingle:
      return vc_qsingle(controller, "s01", nullptr);
    case Command::kQAll:
      return vc_qall(controller, nullptr);
    case Command::kCreate:
      return vc_create(controller, "s01", "alice", "weekly sync", "alice,bob", nullptr);
  }
  return VC_ERROR_INTERNAL;
}

// The C interface, threaded (`hostDriven` false) or driven from this
// thread's poll loop.
int RunC(Command command, long count, uint16_t port, bool hostDriven) {
  CState state;
  vc_callbacks callbacks{};
  callbacks.on_error = OnError;
  callbacks.on_command_result = OnCommandResult;
  callbacks.on_qall_empty = OnQAllEmpty;
  callbacks.on_qall_entry = OnQAllEntry;
  callbacks.on_qsingle_result = OnQSingleResult;
  callbacks.on_done = OnDone;
  vc_controller* controller = vc_controller_create(&callbacks, &state);
  if (controller == nullptr || vc_set_server(controller, "127.0.0.1", port) != VC_OK) return 1;
  if (hostDriven && vc_use_host_loop(controller) != VC_OK) return 1;
  pollfd loop{static_cast<int>(vc_loop_descriptor(controller)), POLLIN, 0};
  for (long i = 0; i < count; ++i) {
    if (IssueC(controller, command) != VC_OK) return 1;
    if (!hostDriven) {
      if (!state.outcomes.WaitFor(i + 1)) std::_Exit(1);
      continue;
    }
    while (state.outcomes.finished() < i + 1) {
      ::poll(&loop, 1, vc_next_timeout_ms(controller));
      if (vc_process(controller) != VC_OK) return 1;
    }
  }
  vc_controller_destroy(controller);
  return state.outcomes.bad() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: cost_driver floor|cpp|c|hd qsingle|qall|create COUNT PORT\n");
    return 2;
  }
  const std::string client = argv[1], name = argv[2];
  const long count = std::atol(argv[3]);
  const long port = std::atol(argv[4]);
  Command command;
  if (name == "qsingle") {
    command = Command::kQSingle;
  } else if (name == "qall") {
    command = Command::kQAll;
  } else if (name == "create") {
    command = Command::kCreate;
  } else {
    std::fprintf(stderr, "cost_driver: no command %s\n", name.c_str());
    return 2;
  }
  if (count < 0 || port <= 0 || port > 65535) {
    std::fprintf(stderr, "cost_driver: bad count or port\n");
    return 2;
  }
  int rc = 2;
  if (client == "floor") rc = RunFloor(command, count, static_cast<uint16_t>(port));
  if (client == "cpp") rc = RunCpp(command, count, static_cast<uint16_t>(port));
  if (client == "c") rc = RunC(command, count, static_cast<uint16_t>(port), false);
  if (client == "hd") rc = RunC(command, count, static_cast<uint16_t>(port), true);
  if (rc == 1) std::fprintf(stderr, "cost_driver: %s %s failed\n", argv[1], argv[2]);
  if (rc == 2) std::fprintf(stderr, "cost_driver: no client %s\n", argv[1]);
  return rc;
}
