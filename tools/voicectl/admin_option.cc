#include "admin_option.h"

#include "admin_routes.h"
#include "client.h"
#include "net.h"

namespace voicectl {

bool ReadAdminAddress(const std::string& text, std::string* address, uint16_t* port,
                      std::string* error) {
  std::string host;
  if (!ParseHostPort(text, 0, &host, port, error) || !ResolveIpv4(host, address, error)) {
    return false;
  }
  uint32_t parsed = 0;
  if (!voicecontrol::testing::net::ParseIpv4(*address, &parsed) || (parsed >> 24) != 127) {
    *error = host + " is not a loopback address; the admin interface listens on 127.0.0.1 "
             "(or another 127.x.y.z) only, since whoever reaches it decides every answer";
    return false;
  }
  return true;
}

std::unique_ptr<voicecontrol::testing::AdminHttpServer> StartAdmin(
    voicecontrol::testing::SimulatedServer& server, const std::string& address, uint16_t port) {
  return std::make_unique<voicecontrol::testing::AdminHttpServer>(
      address, port, [&server](const voicecontrol::testing::AdminRequest& request) {
        return voicecontrol::testing::HandleAdminRequest(server, request);
      });
}

}  // namespace voicectl
