// The admin interface's routes: each turns an HTTP request into calls of
// SimulatedServer's public member functions, the same ones a host's C++
// tests call, and its answer into JSON.
#ifndef VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_ROUTES_H_
#define VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_ROUTES_H_

#include <voicecontrol/testing/simulator.h>

#include "admin_http.h"

namespace voicecontrol {
namespace testing {

// Answers one admin request; a bad one gets a 4xx with {"error": reason}.
// Never throws.
AdminResponse HandleAdminRequest(SimulatedServer& server, const AdminRequest& request);

// The page that watches the server (admin_page.html, built in).
extern const char kAdminPage[];

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_ROUTES_H_
