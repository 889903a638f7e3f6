#include "client.h"

#include <chrono>
#include <iostream>

#include <voicecontrol/controller/VoiceController.h>
#include "net.h"
#include "printing_sink.h"
#include "text.h"
#include "trace.h"

namespace voicectl {

namespace {

void Issue(voicecontrol::VoiceController& controller, const Command& c) {
  auto arg = [&c](size_t i) { return i < c.texts.size() ? Wide(c.texts[i]) : std::wstring(); };
  if (c.name == "create") {
    controller.Create(arg(0), arg(1), arg(2), arg(3));
  } else if (c.name == "kick") {
    controller.Kick(arg(0), arg(1));
  } else if (c.name == "change") {
    controller.Change(arg(0), arg(1), static_cast<uint16_t>(c.number));
  } else if (c.name == "qall") {
    controller.QAll();
  } else if (c.name == "qsingle") {
    controller.QSingle(arg(0));
  } else if (c.name == "dscall") {
    controller.DsCall(arg(0), arg(1), c.number);
  }
}

}  // namespace

int RunCommand(const Command& command, const ClientOptions& options, std::ostream& out,
               std::ostream& err) {
  PrintingSink sink(out, err, options.json);
  TracePrinter trace(err);  // outlives the controller, which calls it
  {
    // The controller's destructor waits for the receive thread, so leaving
    // this scope means the outcome has been delivered (or timed out).
    voicecontrol::VoiceController controller(&sink);
    controller.serverAddress = options.address;
    controller.serverPort = options.port;
    // The options were checked against the range the library takes.
    if (!controller.SetTimeouts(std::chrono::milliseconds(options.connectTimeoutMs),
                                std::chrono::milliseconds(options.answerTimeoutMs))) {
      err << "voicectl: the library refused the time-outs\n";
      return kExitUsage;
    }
    if (options.trace) {
      // The log files stay as they are without --trace: --show-logs and
      // the state directory keep working.
      using Controller = voicecontrol::VoiceController;
      controller.SetObserver(&trace, Controller::kObserveLogRecords |
                                         Controller::kObserveRequestEvents |
                                         Controller::kObserveKeepLogFiles);
    }
    Issue(controller, command);
  }
  if (sink.errors() > 0 || sink.callbacks() == 0) return kExitError;
  return sink.failedResults() > 0 ? kExitResultCode : kExitOk;
}

std::optional<int64_t> ParseInteger(const std::string& text, int64_t min, int64_t max) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string digits = negative ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < min || value > max) return std::nullopt;
  return value;
}

bool ParseHostPort(const std::string& text, uint16_t minPort, std::string* host, uint16_t* port,
                   std::string* error) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    *error = "expected HOST:PORT (e.g. 127.0.0.1:8080 or localhost:8080), got \"" + text + "\"";
    return false;
  }
  const std::string digits = text.substr(colon + 1);
  const auto value = ParseInteger(digits, minPort, 65535);
  if (!value) {
    *error = "PORT in HOST:PORT must be a number from " + std::to_string(minPort) +
             " to 65535, got \"" + digits + "\"";
    return false;
  }
  *host = text.substr(0, colon);
  *port = static_cast<uint16_t>(*value);
  return true;
}

bool ResolveIpv4(const std::string& host, std::string* address, std::string* error) {
  return voicecontrol::testing::net::ResolveIpv4(host, address, error);
}

}  // namespace voicectl
