// voicectl: drive a voice server from the command line, or simulate one.
//
//   voicectl [--server HOST:PORT] [--json] [--log-dir DIR] [--show-logs] COMMAND ARGS...
//   voicectl serve [--listen HOST:PORT] [fault flags]
//   voicectl demo
#include <signal.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <string>

#include "client.h"
#include "demo.h"
#include "simulator.h"

namespace {

using voicectl::Command;

constexpr int kUsageError = 2;

struct Arguments {
  std::string server = "127.0.0.1:8080";
  bool json = false;
  std::string logDir;
  bool showLogs = false;
  Command command;
  std::string listen = "127.0.0.1:8080";
  voicectl::Faults faults;
  int flowId = 0;
  int fieldNum = 0;
};

void AddCommand(CLI::App& app, Arguments& args, const char* name, const char* help,
                std::vector<const char*> textNames, const char* numberName = nullptr,
                int64_t numberMax = 0) {
  CLI::App* sub = app.add_subcommand(name, help);
  for (const char* textName : textNames) {
    args.command.texts.reserve(6);
    sub->add_option_function<std::string>(
           textName, [&args](const std::string& value) { args.command.texts.push_back(value); },
           std::string("text argument ") + textName)
        ->required();
  }
  if (numberName != nullptr) {
    sub->add_option(numberName, args.command.number, std::string("number ") + numberName)
        ->required()
        ->check(CLI::Number)
        ->check(CLI::Range(int64_t{0}, numberMax));
  }
  sub->callback([&args, name] { args.command.name = name; });
}

int Serve(Arguments& args) {
  std::string host, error;
  uint16_t port = 0;
  if (!voicectl::ParseHostPort(args.listen, &host, &port, &error)) {
    std::cerr << "voicectl serve: " << error << "\n";
    return kUsageError;
  }
  // Block the stop signals in every thread, then wait for one here.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  voicectl::Simulator simulator;
  simulator.SetFaults(args.faults);
  if (!simulator.Start(host, port, &error)) {
    std::cerr << "voicectl serve: " << error << "\n";
    return 1;
  }
  std::cout << "listening on " << host << ":" << simulator.port()
            << " (faults: " << args.faults.Describe() << ")" << std::endl;
  int signal = 0;
  sigwait(&stopSignals, &signal);
  std::cerr << "voicectl serve: stopping on signal " << signal << "\n";
  simulator.Stop();
  return 0;
}

int Client(Arguments& args) {
  voicectl::ClientOptions options;
  options.json = args.json;
  std::string error;
  if (!voicectl::ParseHostPort(args.server, &options.host, &options.port, &error)) {
    std::cerr << "voicectl: " << error << "\n";
    return kUsageError;
  }
  namespace fs = std::filesystem;
  // Without --log-dir the library writes its logs to the parent directory.
  const fs::path logDir =
      fs::absolute(args.logDir.empty() ? fs::path("..") : fs::path(args.logDir));
  if (!args.logDir.empty() && !voicectl::EnterLogDir(logDir.string(), &error)) {
    std::cerr << "voicectl: " << error << "\n";
    return 1;
  }
  const int result = voicectl::RunCommand(args.command, options, std::cout, std::cerr);
  if (args.showLogs) voicectl::ShowLogs(logDir.lexically_normal().string(), std::cout);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  CLI::App app{"voicectl: drive a voice server, or simulate one for testing a host"};
  app.require_subcommand(1, 1);
  app.fallthrough();  // global options may also follow the command
  app.add_option("--server", args.server, "server address as HOST:PORT")->capture_default_str();
  app.add_flag("--json", args.json, "print each callback as one JSON object per line");
  app.add_option("--log-dir", args.logDir, "directory that receives the two log files");
  app.add_flag("--show-logs", args.showLogs, "print both log records after the command");

  AddCommand(app, args, "create", "create a session", {"A", "B", "C", "D"});
  AddCommand(app, args, "kick", "kick a member", {"A", "B"});
  AddCommand(app, args, "change", "change a member's setting", {"A", "B"}, "N", 65535);
  AddCommand(app, args, "qall", "list every session", {});
  AddCommand(app, args, "qsingle", "describe one session", {"A"});
  AddCommand(app, args, "dscall", "schedule the end of a session", {"A", "B"}, "SECONDS",
             4294967295LL);

  CLI::App* serve = app.add_subcommand("serve", "run the simulated voice server");
  serve->add_option("--listen", args.listen, "address to listen on, HOST:PORT (port 0: any free)")
      ->capture_default_str();
  serve->add_option("--delay", args.faults.delayMs, "wait MS milliseconds before answering")
      ->check(CLI::Range(0, 600000));
  serve->add_flag("--close-early", args.faults.closeEarly, "close the connection after reading");
  serve->add_flag("--no-answer", args.faults.noAnswer, "never answer, keep the connection open");
  serve->add_option("--status", args.faults.status, "HTTP status code of every answer");
  serve->add_flag("--http10", args.faults.http10, "answer with an HTTP/1.0 status line");
  CLI::Option* flowId = serve->add_option("--flowid", args.flowId, "FlowID to answer with");
  CLI::Option* fieldNum = serve->add_option("--fieldnum", args.fieldNum, "FieldNum to answer with");
  serve->add_flag("--garbage", args.faults.garbage, "answer with a body that is not XML");
  serve->add_flag("--oversize", args.faults.oversize, "answer with more than 80 KB");
  serve->add_flag("--partial", args.faults.partial, "send the headers, never the body");
  app.add_subcommand("demo", "run every command and fault against an in-process simulator");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // A first word that names no command leaves every subcommand unparsed.
    if (app.get_subcommands().empty() && !app.remaining().empty()) {
      std::cerr << "voicectl: unknown command \"" << app.remaining().front()
                << "\" (commands: create kick change qall qsingle dscall serve demo; see --help)\n";
      return kUsageError;
    }
    app.exit(e);
    return kUsageError;
  }
  if (flowId->count() > 0) args.faults.flowId = args.flowId;
  if (fieldNum->count() > 0) args.faults.fieldNum = args.fieldNum;

  if (app.got_subcommand("serve")) return Serve(args);
  if (app.got_subcommand("demo")) return voicectl::RunDemo(std::cout, std::cerr);
  return Client(args);
}
