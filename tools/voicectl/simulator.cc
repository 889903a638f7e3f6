#include "simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

#include <voicecontrol/http/http.h>
#include <voicecontrol/interface/HttpXmlReq.h>
#include "text.h"

namespace voicectl {

namespace {

constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr int kReadDeadlineMs = 5000;
constexpr int kHoldLimitMs = 30000;  // how long --no-answer/--partial hold a connection
constexpr int kMaxConnections = 512;
constexpr size_t kOversizeValueBytes = 90 * 1024;

int ElapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - since)
                              .count());
}

// Position right after the header block, or npos while it is incomplete.
size_t HeaderEnd(const std::string& data) {
  const size_t pos = data.find("\r\n\r\n");
  return pos == std::string::npos ? pos : pos + 4;
}

// Content-Length of the header block (0 when absent or unreadable).
size_t ContentLength(const std::string& data, size_t headerEnd) {
  static const char kName[] = "\r\ncontent-length:";
  const size_t nameLength = sizeof(kName) - 1;
  for (size_t i = 0; i + nameLength <= headerEnd; ++i) {
    if (strncasecmp(data.c_str() + i, kName, nameLength) != 0) continue;
    const char* p = data.c_str() + i + nameLength;
    while (*p == ' ' || *p == '\t') ++p;
    size_t value = 0;
    for (; *p >= '0' && *p <= '9' && value <= kMaxRequestBytes; ++p)
      value = value * 10 + (*p - '0');
    return value;
  }
  return 0;
}

bool SendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string Faults::Describe() const {
  std::ostringstream out;
  if (delayMs > 0) out << " delay=" << delayMs;
  if (closeEarly) out << " close-early";
  if (noAnswer) out << " no-answer";
  if (status != 200) out << " status=" << status;
  if (http10) out << " http10";
  if (flowId) out << " flowid=" << *flowId;
  if (fieldNum) out << " fieldnum=" << *fieldNum;
  if (garbage) out << " garbage";
  if (oversize) out << " oversize";
  if (partial) out << " partial";
  const std::string text = out.str();
  return text.empty() ? "none" : text.substr(1);
}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start(const std::string& host, uint16_t port, std::string* error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    *error = "not an IPv4 address: " + host;
    return false;
  }
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int yes = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 128) != 0 || pipe2(wakeFds_, O_CLOEXEC) != 0) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  stopping_ = false;
  acceptThread_ = std::thread(&Simulator::AcceptLoop, this);
  return true;
}

void Simulator::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (listenFd_ < 0) return;
    stopping_ = true;
  }
  changed_.notify_all();
  // The pipe stays readable from now on, so every poll() that watches it wakes.
  const char byte = 0;
  (void)!write(wakeFds_[1], &byte, 1);
  if (acceptThread_.joinable()) acceptThread_.join();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return activeConnections_ == 0; });
  close(listenFd_);
  close(wakeFds_[0]);
  close(wakeFds_[1]);
  listenFd_ = wakeFds_[0] = wakeFds_[1] = -1;
}

void Simulator::SetFaults(const Faults& faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_ = faults;
}

Faults Simulator::faults() {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

void Simulator::Log(const std::string& line) {
  if (logging_) std::cerr << "voicectl serve: " + line + "\n" << std::flush;
}

void Simulator::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) continue;
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    const std::string name = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (activeConnections_ >= kMaxConnections) {
        close(fd);
        continue;
      }
      ++activeConnections_;
    }
    std::thread(&Simulator::Serve, this, fd, name).detach();
  }
}

namespace {

enum class ReadResult { kComplete, kClosed, kTimedOut, kTooLarge, kStopped };

// Reads one request (header block plus Content-Length body bytes) within
// the per-connection deadline. `wakeFd` becomes readable when the server stops.
ReadResult ReadRequest(int fd, int wakeFd, std::string* data) {
  const auto start = std::chrono::steady_clock::now();
  char chunk[8192];
  for (;;) {
    const size_t headerEnd = HeaderEnd(*data);
    if (headerEnd != std::string::npos &&
        data->size() >= headerEnd + ContentLength(*data, headerEnd)) {
      return ReadResult::kComplete;
    }
    if (data->size() > kMaxRequestBytes) return ReadResult::kTooLarge;
    const int left = kReadDeadlineMs - ElapsedMs(start);
    if (left <= 0) return ReadResult::kTimedOut;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(fds, 2, left) < 0 && errno != EINTR) return ReadResult::kClosed;
    if (fds[1].revents != 0) return ReadResult::kStopped;
    if (fds[0].revents == 0) continue;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ReadResult::kClosed;
    data->append(chunk, static_cast<size_t>(n));
  }
}

// Keeps a connection open without answering until the peer closes it, the
// server stops, or the hold limit passes.
void HoldOpen(int fd, int wakeFd) {
  const auto start = std::chrono::steady_clock::now();
  char sink[4096];
  for (;;) {
    const int left = kHoldLimitMs - ElapsedMs(start);
    if (left <= 0) return;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(fds, 2, left) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if (fds[0].revents != 0 && recv(fd, sink, sizeof sink, 0) <= 0) return;
  }
}

struct ParsedRequest {
  std::string method;
  int seqNo = 0;
  std::vector<std::wstring> values;
};

bool ParseCommand(const std::string& data, ParsedRequest* out) {
  voicecontrol::HttpXmlReq request;
  if (request.CreateBody() != 0) return false;
  if (request.Parse(data.c_str(), static_cast<int>(data.size())) != 0) return false;
  out->method = voicecontrol::HttpXmlMethod[request.GetMethod()];
  out->seqNo = request.GetSeqNo();
  const int count = request.GetFieldNum();
  for (int i = 0; i < count && i < 64; ++i) out->values.push_back(request.GetNextFieldValue());
  return true;
}

// Writes an HTTP answer with an interface message, shaped by the faults.
std::string BuildAnswer(const ParsedRequest& request, const Answer& answer, const Faults& faults) {
  if (faults.garbage) {
    const std::string body = "this is not an interface message\n";
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  voicecontrol::HttpXmlRsp response;
  response.CreateBody();
  response.SetStatus(200);
  response.SetSeqNo(request.seqNo);
  response.SetFlowID(faults.flowId.value_or(answer.flowId));
  response.SetFieldNum(faults.fieldNum.value_or(static_cast<int>(answer.values.size())));
  for (const auto& value : answer.values) response.AddFieldValue(value);
  if (faults.oversize) response.AddFieldValue(std::wstring(kOversizeValueBytes, L'x'));
  std::string wire;
  if (response.Serialize(&wire) != 0) {
    return "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n";
  }
  if (faults.status != 200 || faults.http10) {
    const char* phrase = voicecontrol::GetStatusText(faults.status);
    const std::string statusLine = std::string(faults.http10 ? "HTTP/1.0 " : "HTTP/1.1 ") +
                                   std::to_string(faults.status) + " " +
                                   (phrase != nullptr ? phrase : "Unknown");
    wire.replace(0, wire.find("\r\n"), statusLine);
  }
  return wire;
}

}  // namespace

bool Simulator::WaitUntilStopped(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return stopping_; });
}

void Simulator::Serve(int fd, std::string peer) {
  std::string data;
  const ReadResult read = ReadRequest(fd, wakeFds_[0], &data);
  const Faults faults = this->faults();
  std::string line = peer + " ";
  ParsedRequest request;
  if (read != ReadResult::kComplete) {
    static const char* const kWhy[] = {"", "closed before a whole request", "read deadline passed",
                                       "request too large", "server stopping"};
    line += kWhy[static_cast<int>(read)];
    if (read == ReadResult::kTooLarge) {
      const std::string refusal =
          "HTTP/1.1 413 Request Entity Too Large\r\nContent-Length: 0\r\n\r\n";
      SendAll(fd, refusal.data(), refusal.size());
    }
  } else if (!ParseCommand(data, &request)) {
    const std::string refusal = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    SendAll(fd, refusal.data(), refusal.size());
    line += "unreadable request -> 400";
  } else {
    const Answer answer =
        model_.Handle(request.method, request.values, std::chrono::system_clock::now());
    line += request.method + " seq=" + std::to_string(request.seqNo) +
            " values=" + std::to_string(request.values.size());
    if (faults.delayMs > 0) WaitUntilStopped(faults.delayMs);
    if (faults.closeEarly) {
      line += " -> closed early";
    } else if (faults.noAnswer) {
      line += " -> no answer";
      HoldOpen(fd, wakeFds_[0]);
    } else {
      const std::string wire = BuildAnswer(request, answer, faults);
      const size_t cut = faults.partial ? HeaderEnd(wire) : wire.size();
      const bool sent = SendAll(fd, wire.data(), cut);
      line += " -> " + std::to_string(faults.status) +
              " flow=" + std::to_string(faults.flowId.value_or(answer.flowId)) +
              " bytes=" + std::to_string(cut) + (sent ? "" : " (send failed)");
      if (faults.partial) HoldOpen(fd, wakeFds_[0]);
    }
  }
  close(fd);
  Log(line + " [faults: " + faults.Describe() + "]");
  std::lock_guard<std::mutex> lock(mutex_);
  if (--activeConnections_ == 0) changed_.notify_all();
}

}  // namespace voicectl
