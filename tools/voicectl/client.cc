#include "client.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include <voicecontrol/controller/VoiceController.h>
#include "printing_sink.h"
#include "text.h"

namespace voicectl {

namespace fs = std::filesystem;

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

// One log record: a 7-character UTF-16LE marker, then the message bytes.
void ShowLog(const fs::path& path, std::ostream& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    out << "(no " << path.string() << ")\n";
    return;
  }
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string marker;
  size_t i = 0;
  for (; i + 1 < bytes.size() && i < 14; i += 2) marker += bytes[i];
  out << "== " << path.string() << "\n" << marker << bytes.substr(i) << "\n";
}

}  // namespace

int RunCommand(const Command& command, const ClientOptions& options, std::ostream& out,
               std::ostream& err) {
  PrintingSink sink(out, err, options.json);
  {
    // The controller's destructor waits for the receive thread, so leaving
    // this scope means the outcome has been delivered (or timed out).
    voicecontrol::VoiceController controller(&sink);
    controller.serverAddress = options.host;
    controller.serverPort = options.port;
    Issue(controller, command);
  }
  return sink.errors() == 0 && sink.callbacks() > 0 ? 0 : 1;
}

bool ParseHostPort(const std::string& text, std::string* host, uint16_t* port, std::string* error) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    *error = "expected HOST:PORT, got \"" + text + "\"";
    return false;
  }
  const std::string digits = text.substr(colon + 1);
  unsigned long value = 0;
  bool numeric = !digits.empty() && digits.size() <= 5;
  for (const char c : digits) {
    if (c < '0' || c > '9') numeric = false;
  }
  if (numeric) value = std::stoul(digits);
  if (!numeric || value > 65535) {
    *error = "port is not a number from 0 to 65535: \"" + digits + "\"";
    return false;
  }
  *host = text.substr(0, colon);
  *port = static_cast<uint16_t>(value);
  return true;
}

bool EnterLogDir(const std::string& dir, std::string* error) {
  std::error_code ec;
  const fs::path work = fs::path(dir) / ".voicectl";
  fs::create_directories(work, ec);
  if (!ec) fs::current_path(work, ec);
  if (ec) {
    *error = "cannot use log directory " + dir + ": " + ec.message();
    return false;
  }
  return true;
}

void ShowLogs(const std::string& dir, std::ostream& out) {
  ShowLog(fs::path(dir) / "SendVoiceMsg.log", out);
  ShowLog(fs::path(dir) / "RecvVoiceMsg.log", out);
}

}  // namespace voicectl
