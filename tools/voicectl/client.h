// The client side of voicectl: runs one command through a VoiceController
// and prints what reaches its sink.
#ifndef VOICECTL_CLIENT_H_
#define VOICECTL_CLIENT_H_

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace voicectl {

// Exit statuses of the client, as --help lists them.
enum ExitStatus {
  kExitOk = 0,          // a result with code 0, or a QAll / QSingle answer
  kExitError = 1,       // an error text from the library (or no outcome at all)
  kExitUsage = 2,       // a bad command line
  kExitResultCode = 3,  // the server answered with a non-zero result code
};

struct Command {
  std::string name;                // create, kick, change, qall, qsingle, dscall
  std::vector<std::string> texts;  // the text arguments, UTF-8
  uint32_t number = 0;             // change's VALUE or dscall's SECONDS
};

struct ClientOptions {
  std::string address = "127.0.0.1";  // dotted IPv4
  uint16_t port = 8080;
  bool json = false;
  // The library's deadlines for the command, as --connect-timeout and
  // --timeout chose them.
  int64_t connectTimeoutMs = 5000;
  int64_t answerTimeoutMs = 5000;
  // --trace: each log record and the request's timeline on `err`.
  bool trace = false;
};

// Issues the command and waits for its outcome (at most the answer
// deadline). Returns one of ExitStatus.
int RunCommand(const Command& command, const ClientOptions& options, std::ostream& out,
               std::ostream& err);

// A whole number from `min` to `max` in `text`: decimal digits, a minus
// sign before them where `min` is negative.
std::optional<int64_t> ParseInteger(const std::string& text, int64_t min, int64_t max);

// Splits "HOST:PORT"; false with a message when there is no host or PORT is
// not a number from `minPort` to 65535.
bool ParseHostPort(const std::string& text, uint16_t minPort, std::string* host, uint16_t* port,
                   std::string* error);

// The IPv4 address of `host` in dotted form: a dotted address as it is, a
// name through the resolver. False with a message when it has none.
bool ResolveIpv4(const std::string& host, std::string* address, std::string* error);

}  // namespace voicectl

#endif  // VOICECTL_CLIENT_H_
