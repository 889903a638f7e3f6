#include "admin_http.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

#include "exchange.h"

namespace voicecontrol {
namespace testing {

namespace {

constexpr int kReadDeadlineMs = 5000;
// Browsers keep a few connections open ahead of need; beyond this many at
// once a connection is closed unanswered.
constexpr size_t kMaxConnections = 32;
constexpr size_t kMaxAdminRequestBytes = 64 * 1024;

// Waits until `socket` is readable (writable: `write`), unless the waker
// wakes first; false on stop, time-out or failure.
bool WaitReady(const net::Socket& socket, bool write, const net::Waker& waker, int timeoutMs) {
  return net::WaitFor(socket, write, waker, timeoutMs) == net::Ready::kReady;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 403: return "Forbidden";
    case 413: return "Payload Too Large";
    default: return "Internal Server Error";
  }
}

std::string Wire(const AdminResponse& response) {
  std::string wire = "HTTP/1.1 " + std::to_string(response.status) + " " +
                     Reason(response.status) + "\r\nContent-Type: " + response.contentType +
                     "\r\nContent-Length: " + std::to_string(response.body.size()) +
                     "\r\nCache-Control: no-store\r\nConnection: close\r\n";
  if (!response.allow.empty()) wire += "Allow: " + response.allow + "\r\n";
  return wire + "\r\n" + response.body;
}

AdminResponse Refusal(int status, const std::string& reason) {
  AdminResponse response;
  response.status = status;
  response.body = "{\"error\":\"" + reason + "\"}";  // fixed texts without quotes
  return response;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      *out += ' ';
    } else if (text[i] != '%') {
      *out += text[i];
    } else {
      if (i + 2 >= text.size()) return false;
      const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
      if (high < 0 || low < 0) return false;
      *out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return true;
}

}  // namespace

bool ParseTarget(const std::string& target, std::string* path,
                 std::map<std::string, std::string>* query) {
  const size_t mark = target.find('?');
  if (!Decode(target.substr(0, mark), path)) return false;
  if (mark == std::string::npos) return true;
  const std::string rest = target.substr(mark + 1);
  for (size_t start = 0; start <= rest.size();) {
    const size_t end = std::min(rest.find('&', start), rest.size());
    const std::string pair = rest.substr(start, end - start);
    const size_t equals = pair.find('=');
    std::string name, value;
    if (!Decode(pair.substr(0, equals), &name) ||
        (equals != std::string::npos && !Decode(pair.substr(equals + 1), &value))) {
      return false;
    }
    if (!name.empty()) (*query)[name] = value;
    start = end + 1;
  }
  return true;
}

AdminHttpServer::AdminHttpServer(const std::string& host, uint16_t port, Handler handler)
    : handler_(std::move(handler)), listener_(host, port), port_(listener_.port()) {
  acceptThread_ = std::thread(&AdminHttpServer::AcceptLoop, this);
}

AdminHttpServer::~AdminHttpServer() { Stop(); }

void AdminHttpServer::Stop() {
  std::lock_guard<std::mutex> lock(stopMutex_);
  if (stopped_) return;
  stopped_ = true;
  waker_.Wake();
  acceptThread_.join();
  for (auto& connection : connections_) connection->thread.join();
  connections_.clear();
  listener_.Close();
}

void AdminHttpServer::ReapFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void AdminHttpServer::AcceptLoop() {
  for (;;) {
    const net::Ready ready = net::WaitFor(listener_.socket(), false, waker_, -1);
    if (ready == net::Ready::kTimedOut) continue;  // a signal is no reason to stop serving
    if (ready != net::Ready::kReady) return;
    std::string peer;
    net::Socket socket = listener_.Accept(&peer);
    if (!socket.IsOpen()) continue;
    ReapFinished();
    if (connections_.size() >= kMaxConnections) continue;  // closes it
    connections_.push_back(std::make_unique<Connection>());
    Connection* connection = connections_.back().get();
    connection->thread =
        std::thread(&AdminHttpServer::Serve, this, std::move(socket), connection);
  }
}

// Reads one request whole: its header block and the body its
// Content-Length announces. False with `refusal` set when it cannot be
// answered as asked; false with refusal->status 0 when the connection ended.
bool AdminHttpServer::ReadRequest(net::Socket& socket, std::string* data,
                                  AdminResponse* refusal) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadDeadlineMs);
  RequestHead head;
  bool headRead = false;
  char chunk[8192];
  for (;;) {
    if (!headRead && ReadHead(*data, &head)) headRead = true;
    const size_t whole = headRead ? head.headerEnd + head.contentLength.value_or(0) : 0;
    if (whole > kMaxAdminRequestBytes || data->size() > kMaxAdminRequestBytes) {
      *refusal = Refusal(413, "admin requests are limited to 64 KB");
      return false;
    }
    if (headRead && data->size() >= whole) {
      data->resize(whole);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 ||
        !WaitReady(socket, false, waker_, static_cast<int>(left.count()))) {
      return false;
    }
    const long n = socket.Receive(chunk, sizeof chunk);
    if (n < 0 && net::LastFailure() == net::Failure::kWouldBlock) continue;
    if (n <= 0) return false;
    data->append(chunk, static_cast<size_t>(n));
  }
}

namespace {

// The value of header `name` (lower case) in the header block `head`; ""
// when absent.
std::string HeaderValue(const std::string& head, const std::string& name) {
  for (size_t line = head.find("\r\n"); line != std::string::npos;
       line = head.find("\r\n", line + 2)) {
    const size_t start = line + 2;
    const size_t colon = head.find(':', start);
    const size_t end = head.find("\r\n", start);
    if (colon == std::string::npos || end == std::string::npos || colon > end) continue;
    std::string field = head.substr(start, colon - start);
    for (char& c : field) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (field != name) continue;
    const size_t value = head.find_first_not_of(" \t", colon + 1);
    return value >= end ? std::string() : head.substr(value, head.find_last_not_of(" \t", end - 1) + 1 - value);
  }
  return std::string();
}

}  // namespace

void AdminHttpServer::Serve(net::Socket socket, Connection* self) {
  std::string data;
  AdminResponse response;
  response.status = 0;
  if (ReadRequest(socket, &data, &response)) {
    RequestHead head;
    ReadHead(data, &head);
    const std::string line = data.substr(0, data.find("\r\n"));
    const size_t space1 = line.find(' '), space2 = line.rfind(' ');
    AdminRequest request;
    if (space1 == std::string::npos || space2 == space1 ||
        !ParseTarget(line.substr(space1 + 1, space2 - space1 - 1), &request.path,
                     &request.query)) {
      response = Refusal(400, "malformed request line");
    } else {
      request.method = line.substr(0, space1);
      request.body = data.substr(head.headerEnd);
      const std::string headers = data.substr(0, head.headerEnd);
      request.host = HeaderValue(headers, "host");
      request.origin = HeaderValue(headers, "origin");
      response = handler_(request);
    }
  }
  if (response.status != 0) {
    const std::string wire = Wire(response);
    size_t sent = 0;
    while (sent < wire.size() && WaitReady(socket, true, waker_, kReadDeadlineMs)) {
      const long n = socket.Send(wire.data() + sent, wire.size() - sent);
      if (n < 0 && net::LastFailure() == net::Failure::kWouldBlock) continue;
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }
  socket.Close();
  self->done = true;
}

}  // namespace testing
}  // namespace voicecontrol
