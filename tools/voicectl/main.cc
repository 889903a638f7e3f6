// voicectl: drive a voice server from the command line, or simulate one.
//
//   voicectl [--server HOST:PORT] [--codepage NAME] [--json] [--log-dir DIR] [--show-logs]
//            [--connect-timeout MS] [--timeout MS] [--trace] COMMAND ARGS...
//   voicectl --version
//   voicectl serve [--listen HOST:PORT] [--admin 127.0.0.1:PORT] [--encoding utf-8|gb2312]
//                  [fault flags]
//   voicectl serve --replay FILE [--strict] ...
//   voicectl record --upstream HOST:PORT [--listen HOST:PORT] --cassette FILE
//   voicectl demo
#ifdef _WIN32
#include <objbase.h>
#endif

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/testing/simulator.h>
#include <voicecontrol/voicecontrol.h>

#include "admin_option.h"
#include "client.h"
#include "demo.h"
#include "fault_flags.h"
#include "log_place.h"
#include "net.h"
#ifndef _WIN32
#include "record.h"
#endif
#include "replay_option.h"
#include "stop_signals.h"

namespace {

using voicectl::Command;
using voicectl::kExitUsage;
using voicecontrol::testing::Fault;

// A numeric argument as typed; read once parsing is done, so that a bad
// value is reported with its name and the range it must lie in.
struct NumberArgument {
  std::string text;
  const char* name = "";
  int64_t min = 0, max = 0;
  bool given = false;
};

struct Arguments {
  std::string server = "127.0.0.1:8080";
  bool json = false;
  std::string logDir;
  bool showLogs = false;
  bool trace = false;
  std::string codePage;
  Command command;
  NumberArgument number;  // change's VALUE, dscall's SECONDS
  // The library's deadlines: the range it takes.
  NumberArgument connectTimeout{"", "--connect-timeout", 1, 600000};
  NumberArgument answerTimeout{"", "--timeout", 1, 600000};

  std::string listen = "127.0.0.1:8080";
  std::string admin;  // empty: no admin interface
  std::string encoding = "utf-8";
  Fault fault;
  NumberArgument delay{"", "--delay", 0, 600000};
  NumberArgument status{"", "--status", 100, 999};
  NumberArgument flowId{"", "--flowid", INT32_MIN, INT32_MAX};
  NumberArgument fieldNum{"", "--fieldnum", INT32_MIN, INT32_MAX};

  voicectl::FaultNumbers faultNumbers;  // the flags of fault_flags.h

  // serve --replay, and record.
  std::string replay;  // empty: no cassette
  bool strict = false;
  std::string upstream;
  std::string cassette;
};

// An argument of a command: its name in --help and what it means.
struct Parameter {
  const char* name;
  const char* meaning;
};

void AddCommand(CLI::App& app, Arguments& args, const char* name, const char* help,
                std::vector<Parameter> texts, Parameter number = {nullptr, nullptr},
                int64_t numberMax = 0) {
  CLI::App* sub = app.add_subcommand(name, help);
  for (const Parameter& text : texts) {
    sub->add_option_function<std::string>(
           text.name, [&args](const std::string& value) { args.command.texts.push_back(value); },
           text.meaning)
        ->required()
        ->type_name("TEXT");
  }
  if (number.name != nullptr) {
    sub->add_option(number.name, args.number.text, number.meaning)
        ->required()
        ->type_name("0.." + std::to_string(numberMax));
  }
  sub->callback([&args, name, number, numberMax] {
    args.command.name = name;
    args.number.name = number.name;
    args.number.max = numberMax;
    args.number.given = number.name != nullptr;
  });
}

void AddNumberOption(CLI::App* app, NumberArgument& argument, const char* typeName,
                     const char* help) {
  app->add_option_function<std::string>(
         argument.name,
         [&argument](const std::string& value) {
           argument.text = value;
           argument.given = true;
         },
         help)
      ->type_name(typeName);
}

// The value of a numeric argument, or a message naming it and its range.
bool ReadNumber(const NumberArgument& argument, const std::string& context, int64_t* value) {
  const auto parsed = voicectl::ParseInteger(argument.text, argument.min, argument.max);
  if (parsed) {
    *value = *parsed;
    return true;
  }
  std::cerr << "voicectl" << context << ": " << argument.name << " must be a whole number from "
            << argument.min << " to " << argument.max << ", got \"" << argument.text << "\"\n";
  return false;
}

#ifdef _WIN32
constexpr char kStateDirHelp[] = "%LOCALAPPDATA%\\voicectl\\";
constexpr char kNoStateDir[] = "LOCALAPPDATA is not set";
#else
constexpr char kStateDirHelp[] = "$XDG_STATE_HOME/voicectl/ (else ~/.local/state/voicectl/)";
constexpr char kNoStateDir[] = "neither HOME nor XDG_STATE_HOME is set";
#endif

// Where the client's logs go by default, for --help.
std::string LogHelp() {
  const std::filesystem::path dir = voicectl::DefaultLogDir();
  return std::string("Logs: the last request and answer are kept in SendVoiceMsg.log and\n"
                     "RecvVoiceMsg.log in ") +
         kStateDirHelp +
         ",\n"
         "here " +
         (dir.empty() ? std::string("in a private temporary directory removed at exit, as ") +
                            kNoStateDir
                      : dir.string()) +
         "; --log-dir DIR puts them in DIR.\n"
         "--show-logs prints the records this command wrote and names the others.";
}

constexpr char kExitHelp[] =
    "Exit status of the six commands:\n"
    "  0  the server reported success (result code 0, or a QALL or QSINGLE answer)\n"
    "  3  the server answered with a non-zero result code (its text is printed)\n"
    "  1  an error: the library's error text (printed as \"error: TEXT\"), or a server\n"
    "     name without an IPv4 address\n"
    "  2  a bad command line";

int Serve(Arguments& args) {
  std::string host, address, error;
  uint16_t port = 0;
  if (!voicectl::ParseHostPort(args.listen, 0, &host, &port, &error)) {
    std::cerr << "voicectl serve: --listen: " << error << "\n";
    return kExitUsage;
  }
  if (!voicectl::ResolveIpv4(host, &address, &error)) {
    std::cerr << "voicectl serve: --listen: " << error << "\n";
    return kExitUsage;
  }
  std::string adminAddress;
  uint16_t adminPort = 0;
  if (!args.admin.empty() &&
      !voicectl::ReadAdminAddress(args.admin, &adminAddress, &adminPort, &error)) {
    std::cerr << "voicectl serve: --admin: " << error << "\n";
    return kExitUsage;
  }
  int64_t value = 0;
  if (args.delay.given) {
    if (!ReadNumber(args.delay, " serve", &value)) return kExitUsage;
    args.fault.delayMs = static_cast<int>(value);
  }
  if (args.status.given) {
    if (!ReadNumber(args.status, " serve", &value)) return kExitUsage;
    args.fault.status = static_cast<int>(value);
  }
  if (args.flowId.given) {
    if (!ReadNumber(args.flowId, " serve", &value)) return kExitUsage;
    args.fault.flowId = static_cast<int>(value);
  }
  if (args.fieldNum.given) {
    if (!ReadNumber(args.fieldNum, " serve", &value)) return kExitUsage;
    args.fault.fieldNum = static_cast<int>(value);
  }

  if (!voicectl::ReadFaultNumbers(args.faultNumbers, &args.fault, std::cerr)) return kExitUsage;

  voicectl::StopSignalWait stopSignals;

  voicecontrol::testing::ServerOptions options;
  options.host = address;
  options.port = port;
  for (char& c : args.encoding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  options.encoding = args.encoding == "gb2312" ? voicecontrol::testing::Encoding::kGb2312
                                               : voicecontrol::testing::Encoding::kUtf8;
  options.log = [](const std::string& line) {
    std::cerr << "voicectl serve: " + line + "\n" << std::flush;
  };
  if (args.admin.empty()) options.requestLogLimit = 0;  // nobody reads them back
  std::string replaying;
  if (!args.replay.empty() && !voicectl::UseCassette(args.replay, args.strict, &options,
                                                     &replaying, &error)) {
    std::cerr << "voicectl serve: --replay: " << error << "\n";
    return kExitUsage;
  }
  std::unique_ptr<voicecontrol::testing::SimulatedServer> server;
  std::unique_ptr<voicecontrol::testing::AdminHttpServer> admin;
  try {
    server = std::make_unique<voicecontrol::testing::SimulatedServer>(options);
    if (!args.admin.empty()) admin = voicectl::StartAdmin(*server, adminAddress, adminPort);
  } catch (const std::exception& e) {
    std::cerr << "voicectl serve: " << e.what() << "\n";
    return 1;
  }
  server->SetStandingFault(args.fault);
  std::cout << "listening on " << address << ":" << server->port()
            << " (faults: " << args.fault.Describe() << "; answers in " << args.encoding
            << (replaying.empty() ? "" : "; " + replaying) << ")" << std::endl;
  if (admin) std::cout << "admin on " << adminAddress << ":" << admin->port() << std::endl;
  const int signal = stopSignals.Wait();
  std::cerr << "voicectl serve: stopping on signal " << signal << "\n";
  if (admin) admin->Stop();
  server->Stop();
  return 0;
}

// The directory of the logs: --log-dir, else the state directory, else a
// private temporary one (said once on stderr). Tells the library.
bool PlaceLogs(const std::string& logDir, voicectl::LogPlace* place) {
  const std::filesystem::path dir =
      logDir.empty() ? voicectl::DefaultLogDir() : std::filesystem::path(logDir);
  std::string error;
  const bool placed = dir.empty() ? place->UsePrivateDirectory(&error)
                                  : place->UseDirectory(dir, &error);
  if (!placed) {
    std::cerr << "voicectl: " << error << "\n";
    return false;
  }
  if (dir.empty()) {
#ifdef _WIN32
    std::cerr << "voicectl: " << kNoStateDir << ": the logs go to "
#else
    std::cerr << "voicectl: neither XDG_STATE_HOME nor HOME is set: the logs go to "
#endif

              << place->dir().string() << ", removed at exit\n";
  }
  // UTF-8, which the library takes: the path's own bytes on POSIX.
  if (!voicecontrol::SetLogDirectory(place->dir().u8string().c_str())) {
    std::cerr << "voicectl: the library cannot write logs into " << place->dir().string()
              << "\n";
    return false;
  }
  return true;
}

int Client(Arguments& args) {
  voicectl::ClientOptions options;
  options.json = args.json;
  options.trace = args.trace;
  std::string host, error;
  if (!voicectl::ParseHostPort(args.server, 1, &host, &options.port, &error)) {
    std::cerr << "voicectl: --server: " << error << "\n";
    return kExitUsage;
  }
  int64_t value = 0;
  if (args.number.given) {
    if (!ReadNumber(args.number, " " + args.command.name, &value)) return kExitUsage;
    args.command.number = static_cast<uint32_t>(value);
  }
  if (args.connectTimeout.given) {
    if (!ReadNumber(args.connectTimeout, "", &value)) return kExitUsage;
    options.connectTimeoutMs = value;
  }
  if (args.answerTimeout.given) {
    if (!ReadNumber(args.answerTimeout, "", &value)) return kExitUsage;
    options.answerTimeoutMs = value;
  }
  if (!args.codePage.empty() && !voicecontrol::SetCodePage(args.codePage.c_str())) {
    std::cerr << "voicectl: --codepage: unknown code page \"" << args.codePage
              << "\" (known: UTF-8, GB18030, GBK, GB2312, BIG5, SHIFT_JIS, EUC-KR, WINDOWS-1252, "
                 "CP936, CP950, CP932, CP949, CP1252, CP65001)\n";
    return kExitUsage;
  }
  if (!voicectl::ResolveIpv4(host, &options.address, &error)) {
    std::cerr << "voicectl: --server: " << error << "\n";
    return voicectl::kExitError;
  }
  voicectl::LogPlace logPlace;
  // Before the library starts a thread: a stop signal cleans up, then ends
  // the process.
  voicectl::CleanUpOnStopSignal cleanUpOnStop([&logPlace] {
    voicecontrol::DisableLogs();  // waits for a record being written
    logPlace.Clean();
  });
  if (!PlaceLogs(args.logDir, &logPlace)) return voicectl::kExitError;
  const voicectl::LogRecords before =
      args.showLogs ? voicectl::ReadLogs(logPlace.dir()) : voicectl::LogRecords{};
  const int result = voicectl::RunCommand(args.command, options, std::cout, std::cerr);
  if (args.showLogs) voicectl::ShowLogs(logPlace.dir(), before, std::cout);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  // Windows Sockets, for the resolver and the simulator (the library
  // itself never initialises it); nothing on POSIX.
  const voicecontrol::testing::net::SocketLibrary sockets;
  if (!sockets.ok()) {
    std::cerr << "voicectl: Windows Sockets cannot be initialised\n";
    return 1;
  }
#ifdef _WIN32
  // COM in the multithreaded apartment, for the whole run: the library's
  // receive threads and the simulator's workers read XML with the
  // system's DOM and join no apartment themselves (a host does the same).
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    std::cerr << "voicectl: COM cannot be initialised\n";
    return 1;
  }
#endif
  Arguments args;
  CLI::App app{"voicectl: drive a voice server, or simulate one for testing a host"};
  app.require_subcommand(1, 1);
  app.fallthrough();  // global options may also follow the command
  app.footer(std::string(kExitHelp) + "\n\n" + LogHelp());
  app.set_version_flag("--version", std::string("voicectl ") + vc_version());
  app.add_option("--server", args.server,
                 "the server: IPv4 address or host name, and port (HOST:PORT)")
      ->capture_default_str()
      ->type_name("HOST:PORT");
  app.add_flag("--json", args.json, "print each callback as one JSON object per line");
  app.add_option("--log-dir", args.logDir, "directory that receives the two log files")
      ->type_name("DIR");
  app.add_flag("--show-logs", args.showLogs, "print both log records after the command");
  app.add_option("--codepage", args.codePage,
                 "code page the server's answers are read in, e.g. GB18030 for a server that "
                 "answers in GB2312 (default UTF-8); requests are always UTF-8")
      ->type_name("NAME");
  AddNumberOption(&app, args.connectTimeout, "MS",
                  "wait at most MS milliseconds (1 to 600000) for the connection (default 5000)");
  AddNumberOption(&app, args.answerTimeout, "MS",
                  "wait at most MS milliseconds (1 to 600000) for the answer once the request "
                  "went out (default 5000)");
  app.add_flag("--trace", args.trace,
               "print on stderr each log record (\"> \" request sent, \"< \" answer received) "
               "and then the request's phases in ms after it was queued, its bytes out and in, "
               "its HTTP status and its error; stdout stays as without it");

  AddCommand(app, args, "create", "create a session",
             {{"SESSION", "id of the new session"},
              {"OWNER", "owner of the session"},
              {"TITLE", "title of the session"},
              {"MEMBERS", "its members, e.g. alice,bob"}});
  AddCommand(app, args, "kick", "remove a member from a session",
             {{"SESSION", "id of the session"}, {"MEMBER", "the member to remove"}});
  AddCommand(app, args, "change", "change a member's setting in a session",
             {{"SESSION", "id of the session"}, {"MEMBER", "the member whose setting changes"}},
             {"VALUE", "the new setting"}, 65535);
  AddCommand(app, args, "qall", "list every session", {});
  AddCommand(app, args, "qsingle", "describe one session", {{"SESSION", "id of the session"}});
  AddCommand(app, args, "dscall", "schedule the end of a session",
             {{"SESSION", "id of the session"}, {"MEMBER", "the member who ends it"}},
             {"SECONDS", "end the session this many seconds from now"}, 4294967295LL);

  CLI::App* serve = app.add_subcommand("serve", "run the simulated voice server");
  serve->add_option("--listen", args.listen,
                    "address to listen on, HOST:PORT (port 0: any free one)")
      ->capture_default_str()
      ->type_name("HOST:PORT");
  serve->add_option("--admin", args.admin,
                    "also serve the admin interface and its page on HOST:PORT, a loopback "
                    "address (port 0: any free one, printed as \"admin on HOST:PORT\"); see "
                    "voicectl(1) and docs/simulator-admin.md")
      ->type_name("127.0.0.1:PORT");
  serve->add_option("--encoding", args.encoding, "encoding of the answers' text")
      ->capture_default_str()
      ->check(CLI::IsMember({"utf-8", "gb2312"}, CLI::ignore_case));
  AddNumberOption(serve, args.delay, "MS", "wait MS milliseconds before answering");
  serve->add_flag("--close-early", args.fault.closeEarly, "close the connection after reading");
  serve->add_flag("--no-answer", args.fault.noAnswer, "never answer, keep the connection open");
  AddNumberOption(serve, args.status, "CODE", "HTTP status code of every answer");
  serve->add_flag("--http10", args.fault.http10, "answer with an HTTP/1.0 status line");
  AddNumberOption(serve, args.flowId, "N", "FlowID to answer with");
  AddNumberOption(serve, args.fieldNum, "N", "FieldNum to answer with");
  serve->add_flag("--garbage", args.fault.garbage, "answer with a body that is not XML");
  serve->add_flag("--oversize", args.fault.oversize, "answer with more than 80 KB");
  serve->add_flag("--partial", args.fault.partial, "send the headers, never the body");
  voicectl::AddFaultFlags(serve, &args.fault, &args.faultNumbers);
  CLI::Option* replay =
      serve->add_option("--replay", args.replay,
                        "answer each command from this cassette (written by voicectl record): "
                        "its next unused exchange with the same method, FlowID, FieldNum and "
                        "values (Seq_No and DSCALL's end time aside), Seq_No set to the "
                        "request's; a command without one gets the model's answer")
          ->type_name("FILE");
  serve->add_flag("--strict", args.strict,
                  "with --replay: answer a command the cassette has nothing left for with "
                  "404 Not Found (the library reports \"bad message.\")")
      ->needs(replay);

#ifndef _WIN32
  // The recording proxy's sockets are POSIX ones so far; replaying a
  // cassette works everywhere.
  CLI::App* record = app.add_subcommand(
      "record", "forward requests to a real server and write each exchange into a cassette");
  record->add_option("--upstream", args.upstream, "the server to forward to, HOST:PORT")
      ->required()
      ->type_name("HOST:PORT");
  record->add_option("--listen", args.listen,
                     "address to listen on, HOST:PORT (port 0: any free one)")
      ->capture_default_str()
      ->type_name("HOST:PORT");
  record->add_option("--cassette", args.cassette,
                     "the file to write, one JSON line per exchange (replaced)")
      ->required()
      ->type_name("FILE");
#endif
  app.add_subcommand("demo", "run every command and fault against an in-process simulator");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // A first word that names no command leaves every subcommand unparsed.
    if (app.get_subcommands().empty() && !app.remaining().empty()) {
      std::cerr << "voicectl: unknown command \"" << app.remaining().front()
                << "\" (commands: create kick change qall qsingle dscall serve record demo; see "
                   "--help)\n";
      return kExitUsage;
    }
    app.exit(e);
    return kExitUsage;
  }

  if (app.got_subcommand("serve")) return Serve(args);
#ifndef _WIN32
  if (app.got_subcommand("record")) {
    return voicectl::RunRecord(args.listen, args.upstream, args.cassette);
  }
#endif
  if (app.got_subcommand("demo")) return voicectl::RunDemo(std::cout, std::cerr);
  return Client(args);
}
