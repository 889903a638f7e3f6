// voicectl serve --admin HOST:PORT: the admin interface beside the server.
#ifndef VOICECTL_ADMIN_OPTION_H_
#define VOICECTL_ADMIN_OPTION_H_

#include <cstdint>
#include <memory>
#include <string>

#include <voicecontrol/testing/simulator.h>

#include "admin_http.h"

namespace voicectl {

// Reads --admin's HOST:PORT (port 0: any free one). Only a loopback
// address is taken: whoever reaches the admin interface decides every
// answer. False with a message otherwise.
bool ReadAdminAddress(const std::string& text, std::string* address, uint16_t* port,
                      std::string* error);

// Serves the admin interface of `server` (which must outlive it); throws
// std::runtime_error when it cannot listen.
std::unique_ptr<voicecontrol::testing::AdminHttpServer> StartAdmin(
    voicecontrol::testing::SimulatedServer& server, const std::string& address, uint16_t port);

}  // namespace voicectl

#endif  // VOICECTL_ADMIN_OPTION_H_
