// The admin interface's JSON: faults, scenario steps, journal entries,
// sessions and planned answers, both ways. Reading is strict: an unknown
// field, a wrong type or a value out of range is refused with a reason.
#ifndef VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_JSON_H_
#define VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_JSON_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <voicecontrol/testing/simulator.h>

namespace voicecontrol {
namespace testing {

using Json = nlohmann::json;

// A request the admin interface refuses, with the reason it sends (400).
class BadAdminRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The body as a JSON object; an empty body is an empty object.
Json ParseObject(const std::string& body);
// Throws BadAdminRequest when `object` has a member not in `known`.
void RequireOnly(const Json& object, const std::vector<const char*>& known, const char* what);
int64_t ReadInteger(const Json& value, const char* name, int64_t min, int64_t max);
std::optional<std::string> ReadOptionalText(const Json& object, const char* name);

Fault ReadFault(const Json& value);
std::vector<ScenarioStep> ReadSteps(const Json& value);

Json FaultJson(const Fault& fault);
Json RequestJson(const ReceivedRequest& request);
Json SessionJson(const Session& session);
Json PlannedJson(const PlannedAnswer& planned);

// Serialises with invalid UTF-8 replaced, never throwing on a request's bytes.
std::string Dump(const Json& value);

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_ADMIN_ADMIN_JSON_H_
