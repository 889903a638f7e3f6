// The client side of voicectl: runs one command through a VoiceController
// and prints what reaches its sink.
#ifndef VOICECTL_CLIENT_H_
#define VOICECTL_CLIENT_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace voicectl {

struct Command {
  std::string name;                // create, kick, change, qall, qsingle, dscall
  std::vector<std::string> texts;  // the text arguments, UTF-8
  uint32_t number = 0;             // change's N or dscall's SECONDS
};

struct ClientOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 8080;
  bool json = false;
};

// Issues the command and waits for its outcome (at most the library's
// receive deadline). Returns 0 when a result arrived, 1 on an error text.
int RunCommand(const Command& command, const ClientOptions& options, std::ostream& out,
               std::ostream& err);

// Splits "HOST:PORT"; false with a message when PORT is not a number in 1..65535.
bool ParseHostPort(const std::string& text, std::string* host, uint16_t* port, std::string* error);

// Makes DIR/.voicectl the working directory, so that the library's logs
// ("../SendVoiceMsg.log", "../RecvVoiceMsg.log") land in DIR.
bool EnterLogDir(const std::string& dir, std::string* error);

// Prints both log records found in DIR, the UTF-16LE marker decoded.
void ShowLogs(const std::string& dir, std::ostream& out);

}  // namespace voicectl

#endif  // VOICECTL_CLIENT_H_
