// A small HTTP/1.1 server for the simulator's admin interface: one request
// per connection, answered by a handler and closed. Loopback tools only.
#ifndef VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_HTTP_H_
#define VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_HTTP_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net.h"

namespace voicecontrol {
namespace testing {

struct AdminRequest {
  std::string method;                        // "GET", "POST", ...
  std::string path;                          // "/api/journal", without the query
  std::map<std::string, std::string> query;  // decoded names and values
  std::string body;
  // The Host and Origin headers ("" when absent): a browser names in them
  // the page a request comes from, which must be the admin page itself.
  std::string host;
  std::string origin;
};

struct AdminResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::string allow;  // the Allow header of a 405
};

// Splits a request target into its path and decoded query parameters;
// false when a percent escape is malformed.
bool ParseTarget(const std::string& target, std::string* path,
                 std::map<std::string, std::string>* query);

class AdminHttpServer {
 public:
  using Handler = std::function<AdminResponse(const AdminRequest&)>;

  // Listens on `host`:`port` (0: a free one) at once; throws
  // std::runtime_error when it cannot. The handler runs on connection
  // threads, several at once.
  AdminHttpServer(const std::string& host, uint16_t port, Handler handler);
  ~AdminHttpServer();  // Stop()
  AdminHttpServer(const AdminHttpServer&) = delete;
  AdminHttpServer& operator=(const AdminHttpServer&) = delete;

  uint16_t port() const { return port_; }
  // Ends every connection and joins every thread. Idempotent.
  void Stop();

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  void Serve(net::Socket socket, Connection* self);
  bool ReadRequest(net::Socket& socket, std::string* data, AdminResponse* refusal);
  void ReapFinished();

  Handler handler_;
  net::Listener listener_;
  net::Waker waker_;  // Stop wakes it: every wait ends
  uint16_t port_ = 0;
  std::thread acceptThread_;
  std::list<std::unique_ptr<Connection>> connections_;  // the accept thread's
  std::mutex stopMutex_;
  bool stopped_ = false;
};

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_HTTP_H_
