// End-to-end tests of the voicectl binary: the client against `voicectl
// serve`, every fault flag and the error text and detail it leads to, a
// real HTTP client against the simulator, bad command lines, where the logs
// go and what is left behind when the client is stopped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <voicecontrol/voicecontrol.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream buffer;
  buffer << file.rdbuf();
  return buffer.str();
}

fs::path TempDir() {
  char pattern[] = "/tmp/voicectl-test-XXXXXX";
  return fs::path(mkdtemp(pattern));
}

// Every program runs with XDG_STATE_HOME in a folder of this test process,
// so that the client's default log place is never the user's home.
class StateHome : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = TempDir();
    setenv("XDG_STATE_HOME", dir_.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }

 private:
  fs::path dir_;
};
::testing::Environment* const kStateHome = ::testing::AddGlobalTestEnvironment(new StateHome);

// This process's environment changed by `changes`: "NAME=VALUE" sets a
// variable, "NAME" removes it.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
  std::vector<std::string> result;
  auto name = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::set<std::string> changed;
  for (const std::string& change : changes) changed.insert(name(change));
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (changed.count(name(*entry)) == 0) result.push_back(*entry);
  }
  for (const std::string& change : changes) {
    if (change.find('=') != std::string::npos) result.push_back(change);
  }
  return result;
}

// A program running with stdout and stderr going to files of its own.
class Program {
 public:
  explicit Program(std::vector<std::string> argv, std::vector<std::string> environment = {})
      : dir_(TempDir()) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "out").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "err").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> variables = Environment(environment);
    std::vector<char*> env;
    for (auto& v : variables) env.push_back(v.data());
    env.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ > 0) Wait();
    fs::remove_all(dir_);
  }

  pid_t pid() const { return pid_; }
  // Waits for the end; exitCode is 128 + the signal for a killed program.
  Outcome Wait() {
    Outcome outcome;
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = 0;
      outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    outcome.out = ReadFile(dir_ / "out");
    outcome.err = ReadFile(dir_ / "err");
    return outcome;
  }

 private:
  fs::path dir_;
  pid_t pid_ = 0;
};

// Runs a program to its end with stdout and stderr captured.
Outcome RunProgram(std::vector<std::string> argv, std::vector<std::string> environment = {}) {
  return Program(std::move(argv), std::move(environment)).Wait();
}

// Waits (at most 10 s) until `path` exists.
bool AppearsSoon(const fs::path& path) {
  for (int i = 0; i < 1000 && !fs::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fs::exists(path);
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A process id that no process has now: a child's, after it has ended.
pid_t GonePid() {
  return Program({"true"}).pid();
}

// `voicectl serve` on a free loopback port, stopped with SIGTERM at the end.
class Server {
 public:
  explicit Server(std::vector<std::string> flags) {
    std::vector<std::string> argv = {VOICECTL_PATH, "serve", "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), flags.begin(), flags.end());
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    errPath_ = TempDir() / "serve.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    // The first line says where it listens: "listening on 127.0.0.1:PORT ...".
    FILE* out = fdopen(pipeFds[0], "r");
    char line[256] = {};
    if (out != nullptr && std::fgets(line, sizeof line, out) != nullptr) {
      std::string text(line);
      const size_t colon = text.find(':', text.find("127.0.0.1"));
      if (colon != std::string::npos) port_ = std::stoi(text.substr(colon + 1));
    }
    if (out != nullptr) std::fclose(out);
  }
  ~Server() { Stop(); }

  // Stops with SIGTERM; returns the exit code (0 when it stopped cleanly).
  int Stop() {
    if (pid_ <= 0) return exitCode_;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitCode_;
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }
  std::string log() const { return ReadFile(errPath_); }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
  int exitCode_ = -1;
  fs::path errPath_;
};

Outcome Client(const Server& server, std::vector<std::string> command) {
  std::vector<std::string> argv = {VOICECTL_PATH, "--server", server.address()};
  argv.insert(argv.end(), command.begin(), command.end());
  return RunProgram(argv);
}

TEST(VoicectlTest, EveryCommandAgainstTheSimulator) {
  Server server({});
  ASSERT_GT(server.port(), 0);
  Outcome created = Client(server, {"create", "s1", "alice", "weekly sync", "alice,bob"});
  EXPECT_EQ(created.exitCode, 0) << created.err;
  EXPECT_EQ(created.out, "OnCommandResult flowId=1001 code=0 text=\"created\"\n");
  EXPECT_EQ(Client(server, {"create", "s1", "a", "b", "c"}).out,
            "OnCommandResult flowId=1001 code=1 text=\"session exists\"\n");
  EXPECT_EQ(Client(server, {"kick", "s1", "bob"}).out,
            "OnCommandResult flowId=1002 code=0 text=\"kicked\"\n");
  EXPECT_EQ(Client(server, {"change", "s1", "alice", "65535"}).out,
            "OnCommandResult flowId=1003 code=0 text=\"changed\"\n");
  EXPECT_EQ(Client(server, {"dscall", "s1", "alice", "3600"}).out,
            "OnCommandResult flowId=1006 code=0 text=\"scheduled\"\n");
  Outcome all = Client(server, {"qall"});
  EXPECT_EQ(all.exitCode, 0);
  // A single entry reaches the host unsplit, list terminators included;
  // voicectl prints it like one of several.
  EXPECT_EQ(all.out.rfind("OnQAllEntry \"s1\" \"alice\" \"weekly sync\" \"alice;bob\" "
                          "\"1\" \"alice\" \"65535\" \"",
                          0),
            0u)
      << all.out;
  EXPECT_EQ(all.out.find(','), std::string::npos) << all.out;
  Outcome json = Client(server, {"--json", "qall"});
  EXPECT_EQ(json.out.rfind("{\"callback\":\"OnQAllEntry\",\"values\":[\"s1\",\"alice\",", 0), 0u)
      << json.out;
  Client(server, {"create", "s2", "bob", "standup", "bob"});
  Outcome two = Client(server, {"qall"});
  EXPECT_EQ(two.out.rfind("OnQAllEntry \"s1\" \"alice\" \"weekly sync\" \"alice;bob\" \"1\" "
                          "\"alice\" \"65535\" \"",
                          0),
            0u)
      << two.out;
  EXPECT_NE(two.out.find("\nOnQAllEntry \"s2\" \"bob\" \"standup\" \"bob\" \"0\" \"\" \"\" \"\"\n"),
            std::string::npos)
      << two.out;
  Outcome single = Client(server, {"--json", "qsingle", "s1"});
  EXPECT_EQ(single.exitCode, 0);
  EXPECT_EQ(single.out.rfind("{\"callback\":\"OnQSingleResult\",\"values\":[\"s1\",\"found\",", 0),
            0u)
      << single.out;
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_NE(server.log().find("CREATE seq=1 values=4 -> 200 flow=1001"), std::string::npos)
      << server.log();
}

TEST(VoicectlTest, QAllOfAnEmptyServerIsEmpty) {
  Server server({});
  Outcome all = Client(server, {"--json", "qall"});
  EXPECT_EQ(all.exitCode, 0);
  EXPECT_EQ(all.out, "{\"callback\":\"OnQAllEmpty\"}\n");
}

struct FaultCase {
  std::vector<std::string> flags;
  const char* errorText;
  // The reason printed after it; nullptr: any, as the HTTP or XML layer
  // words it.
  const char* detail;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  for (const auto& flag : c.flags) *os << flag << " ";
  *os << "-> " << c.errorText;
}

class VoicectlFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(VoicectlFaultTest, FaultFlagLeadsToItsErrorTextAndDetail) {
  Server server(GetParam().flags);
  Outcome outcome = Client(server, {"qall"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.out, "");
  const std::string head = std::string("error: ") + GetParam().errorText + " (";
  // The XML parser's own words may follow a position: "(line 1, column 1): ...".
  const std::string exact = head + GetParam().detail + ")\n";
  const std::string withWords = head + GetParam().detail + ": ";
  EXPECT_TRUE(outcome.err == exact || (outcome.err.rfind(withWords, 0) == 0 &&
                                       outcome.err.substr(outcome.err.size() - 2) == ")\n"))
      << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VoicectlFaultTest,
    ::testing::Values(
        FaultCase{{"--close-early"}, "timeout.", "peer closed before a complete answer"},
        FaultCase{{"--no-answer"}, "timeout.", "no answer within 5 s"},
        FaultCase{{"--status", "299"}, "decode.", "HTTP status 299"},
        FaultCase{{"--http10"}, "decode.", "HTTP/1.0 answer"},
        FaultCase{{"--flowid", "2000"}, "bad message.", "FlowID 2000 is not a command"},
        FaultCase{{"--fieldnum", "0"}, "param error.", "FieldNum 0 below 9 for FlowID 1004"},
        FaultCase{{"--garbage"}, "bad message.",
                  "answer is not well-formed XML (line 1, column 1)"},
        FaultCase{{"--oversize"}, "decode.", "answer longer than 81919 bytes"},
        FaultCase{{"--partial"}, "timeout.", "no answer within 5 s"},
        FaultCase{{"--reset-before-headers"}, "timeout.", "receive: Connection reset by peer"},
        FaultCase{{"--reset-after-headers"}, "timeout.", "receive: Connection reset by peer"},
        FaultCase{{"--end-mid-body"}, "timeout.", "peer closed before a complete answer"}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           std::string name;
                           for (const char c : info.param.flags[0]) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

// The flags that shape a run of answers rather than each one alike.
TEST(VoicectlTest, FaultFlagsOverSeveralAnswers) {
  const struct {
    std::vector<std::string> flags;
    const char* says;  // in the log line of an answer it shaped
    std::vector<std::string> outcomes;  // of four QALLs: "ok", or the error text
  } cases[] = {
      {{"--fail-first", "2", "--close-early"}, "close-early first=2",
       {"timeout.", "timeout.", "ok", "ok"}},
      {{"--probability", "0.5", "--seed", "3", "--garbage"}, "garbage probability=0.5 seed=3",
       {"ok", "bad message.", "ok", "bad message."}},
      {{"--probability", "0", "--garbage"}, "none",
       {"ok", "ok", "ok", "ok"}},
      {{"--dribble", "5", "--dribble-ms", "1"}, "dribble=5/1ms", {"ok", "ok", "ok", "ok"}},
      {{"--body-delay", "20", "--dribble", "64"}, "dribble=64/0ms body-delay=20",
       {"ok", "ok", "ok", "ok"}},
  };
  for (const auto& c : cases) {
    Server server(c.flags);
    std::vector<std::string> outcomes;
    for (size_t i = 0; i < c.outcomes.size(); ++i) {
      const Outcome outcome = Client(server, {"qall"});
      outcomes.push_back(outcome.exitCode == 0 ? "ok" : outcome.err.substr(7, outcome.err.find(" (") - 7));
    }
    EXPECT_EQ(outcomes, c.outcomes) << c.says;
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_NE(server.log().find("[faults: " + std::string(c.says) + "]"), std::string::npos)
        << server.log();
  }
}

TEST(VoicectlTest, ChosenTimeOutEndsTheWaitAndIsNamed) {
  Server server({"--no-answer"});
  const auto start = std::chrono::steady_clock::now();
  // Global options after the command, as after --server.
  Outcome outcome = Client(server, {"qall", "--connect-timeout", "1000", "--timeout", "200"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.err, "error: timeout. (no answer within 200 ms)\n");
  EXPECT_LT(took, std::chrono::seconds(3));  // far below the default 5 s
}

TEST(VoicectlTest, DelayAndKnownStatusStillDeliverTheResult) {
  Server server({"--delay", "200", "--status", "500"});
  Outcome outcome = Client(server, {"qall"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "OnQAllEmpty\n");
}

TEST(VoicectlTest, RefusedConnectionIsAConnectError) {
  Server server({});
  const std::string address = server.address();
  server.Stop();
  Outcome outcome = RunProgram({VOICECTL_PATH, "--server", address, "qall"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.err, "error: connect error. (connect: Connection refused)\n");
}

TEST(VoicectlTest, JsonCarriesTheDetail) {
  Server server({"--oversize"});
  Outcome oversize = Client(server, {"--json", "qall"});
  EXPECT_EQ(oversize.exitCode, 1);
  EXPECT_EQ(oversize.out,
            "{\"callback\":\"OnError\",\"text\":\"decode.\","
            "\"detail\":\"answer longer than 81919 bytes\"}\n");
  const std::string address = server.address();
  server.Stop();
  Outcome refused = RunProgram({VOICECTL_PATH, "--server", address, "--json", "qall"});
  EXPECT_EQ(refused.out,
            "{\"callback\":\"OnError\",\"text\":\"connect error.\","
            "\"detail\":\"connect: Connection refused\"}\n");
}

TEST(VoicectlTest, VersionIsTheLibrarys) {
  Outcome version = RunProgram({VOICECTL_PATH, "--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, std::string("voicectl ") + vc_version() + "\n");
}

TEST(VoicectlTest, LogDirReceivesBothLogsAndShowLogsPrintsThem) {
  Server server({});
  const fs::path dir = TempDir();
  Outcome outcome = Client(server, {"--log-dir", dir.string(), "--show-logs", "qall"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  const std::string sent = ReadFile(dir / "SendVoiceMsg.log");
  EXPECT_EQ(sent.substr(0, 14), std::string("-\0-\0-\0>\0 \0\r\0\n\0", 14));
  EXPECT_EQ(sent.substr(14, 21), "QALL /MyURL/ HTTP/1.1");
  EXPECT_EQ(ReadFile(dir / "RecvVoiceMsg.log").substr(14, 15), "HTTP/1.1 200 OK");
  EXPECT_NE(outcome.out.find("---> \r\nQALL /MyURL/ HTTP/1.1"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("<--- \r\nHTTP/1.1 200 OK"), std::string::npos);
  fs::remove_all(dir);
}

// stderr gets both records, marked, and the phases in their order, with
// the error of a failed command; stdout is byte for byte as without it.
TEST(VoicectlTest, TracePrintsRecordsAndPhasesOnStderrOnly) {
  Server server({});
  Outcome plain = Client(server, {"qsingle", "s1"});
  Outcome traced = Client(server, {"--trace", "qsingle", "s1"});
  EXPECT_EQ(traced.exitCode, 0);
  EXPECT_EQ(traced.out, plain.out);
  size_t at = 0;
  for (const char* part : {"trace: request 1: sent ", "\n  > QSINGLE /MyURL/ HTTP/1.1\n",
                           "trace: request 1: received ", "\n  < HTTP/1.1 200 OK\n",
                           "trace: request 1: FlowID 1005, HTTP status 200, ", "\n  connect started ",
                           " ms\n  connected ", " ms\n  request written ", " ms\n  first answer byte ",
                           " ms\n  answer complete ", " ms\n  outcome delivered ", " ms\n"}) {
    at = traced.err.find(part, at);
    ASSERT_NE(at, std::string::npos) << part << " in order in:\n" << traced.err;
  }
  Server silent({"--no-answer"});
  Outcome failed = Client(silent, {"--trace", "--timeout", "100", "qall"});
  EXPECT_NE(failed.err.find("  first answer byte  not reached\n"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("ended in error: timeout. (no answer within 100 ms)\n"), std::string::npos);
  EXPECT_EQ(failed.out, "");
}

TEST(VoicectlTest, RealHttpClientGetsAWellFormedAnswer) {
  if (RunProgram({"curl", "--version"}).exitCode != 0) GTEST_SKIP() << "curl is not installed";
  Server server({});
  const fs::path dir = TempDir();
  std::ofstream(dir / "body")
      << "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Request>\n"
         "<Seq_No>9</Seq_No>\n<FlowID>1001</FlowID>\n<FieldNum>4</FieldNum>\n<Field>\n"
         "<Field_Value>c1</Field_Value>\n<Field_Value>o</Field_Value>\n"
         "<Field_Value>t</Field_Value>\n<Field_Value>m</Field_Value>\n</Field>\n</Request>\n"
         "</Interface>";
  Outcome outcome =
      RunProgram({"curl", "-sS", "-i", "-X", "CREATE", "--data-binary",
                  "@" + (dir / "body").string(), "http://" + server.address() + "/MyURL/"});
  fs::remove_all(dir);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << outcome.out;
  EXPECT_NE(outcome.out.find("<Seq_No>9</Seq_No>\n<FlowID>1001</FlowID>\n<FieldNum>2</FieldNum>\n"
                             "<Field>\n<Field_Value>0</Field_Value>\n"
                             "<Field_Value>created</Field_Value>"),
            std::string::npos)
      << outcome.out;
}

TEST(VoicectlTest, BadCommandLinesExplainThemselves) {
  Outcome unknown = RunProgram({VOICECTL_PATH, "frobnicate"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("unknown command"), std::string::npos) << unknown.err;

  Outcome missing = RunProgram({VOICECTL_PATH, "kick", "only-one"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("MEMBER is required"), std::string::npos) << missing.err;

  Outcome extra = RunProgram({VOICECTL_PATH, "qsingle", "a", "b"});
  EXPECT_EQ(extra.exitCode, 2);
  EXPECT_NE(extra.err.find("not expected"), std::string::npos) << extra.err;

  Outcome port = RunProgram({VOICECTL_PATH, "--server", "127.0.0.1:http", "qall"});
  EXPECT_EQ(port.exitCode, 2);
  EXPECT_NE(port.err.find("PORT in HOST:PORT must be a number from 1 to 65535"), std::string::npos) << port.err;

  Outcome range = RunProgram({VOICECTL_PATH, "change", "a", "b", "65536"});
  EXPECT_EQ(range.exitCode, 2);
  EXPECT_NE(range.err.find("65535"), std::string::npos) << range.err;

  Outcome help = RunProgram({VOICECTL_PATH, "dscall", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("SECONDS"), std::string::npos) << help.out;
}

TEST(VoicectlTest, HostNamesAndExitStatuses) {
  Server server({});
  const std::vector<std::string> create = {VOICECTL_PATH, "--server",
                                           "localhost:" + std::to_string(server.port()),
                                           "create", "s1", "o", "t", "m"};
  Outcome created = RunProgram(create);
  EXPECT_EQ(created.exitCode, 0) << created.err;
  Outcome again = RunProgram(create);
  EXPECT_EQ(again.exitCode, 3);
  EXPECT_EQ(again.out, "OnCommandResult flowId=1001 code=1 text=\"session exists\"\n");
  // A name the resolver refuses before asking any name server.
  Outcome unknown = RunProgram({VOICECTL_PATH, "--server", "no such host:80", "qall"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("cannot find an IPv4 address for host \"no such host\""),
            std::string::npos)
      << unknown.err;
}

TEST(VoicectlTest, LogsGoToTheStateDirectoryAndNoEmptyFolderStays) {
  Server server({});
  const fs::path state = std::getenv("XDG_STATE_HOME");
  Outcome help = RunProgram({VOICECTL_PATH, "--help"});
  EXPECT_NE(help.out.find("here " + (state / "voicectl").string()), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("3  the server answered with a non-zero result code"), std::string::npos);

  EXPECT_EQ(Client(server, {"qall"}).exitCode, 0);
  EXPECT_EQ(ReadFile(state / "voicectl" / "SendVoiceMsg.log").substr(14, 4), "QALL");
  EXPECT_EQ(ReadFile(state / "voicectl" / "RecvVoiceMsg.log").substr(14, 8), "HTTP/1.1");
  EXPECT_EQ(std::distance(fs::directory_iterator(state / "voicectl"), fs::directory_iterator()), 2);

  // A command that never reaches a server writes no log: nothing is left.
  const fs::path fresh = TempDir() / "a" / "b";
  const std::string address = server.address();
  server.Stop();
  Outcome refused = RunProgram({VOICECTL_PATH, "--server", address, "--log-dir", fresh.string(), "qall"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_FALSE(fs::exists(fresh.parent_path()));
  fs::remove_all(fresh.parent_path().parent_path());
}

TEST(VoicectlTest, BadNumbersSayWhichArgumentAndWhatIsExpected) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"change", "s", "m", "x"}, "voicectl change: VALUE must be a whole number from 0 to 65535, got \"x\""},
      {{"change", "s", "m", "-1"}, "VALUE must be a whole number from 0 to 65535"},
      {{"dscall", "s", "m", "soon"}, "SECONDS must be a whole number from 0 to 4294967295, got \"soon\""},
      {{"--server", "127.0.0.1:0", "qall"}, "PORT in HOST:PORT must be a number from 1 to 65535, got \"0\""},
      {{"serve", "--listen", "127.0.0.1:x"}, "PORT in HOST:PORT must be a number from 0 to 65535"},
      {{"serve", "--delay", "1s"}, "--delay must be a whole number from 0 to 600000, got \"1s\""},
      {{"serve", "--flowid", "abc"}, "--flowid must be a whole number"},
      {{"--timeout", "0", "qall"}, "voicectl: --timeout must be a whole number from 1 to 600000, got \"0\""},
      {{"qall", "--connect-timeout", "600001"}, "--connect-timeout must be a whole number from 1 to 600000"},
      {{"serve", "--dribble", "0"}, "--dribble must be a whole number from 1 to 65536, got \"0\""},
      {{"serve", "--dribble", "9", "--dribble-ms", "-1"}, "--dribble-ms must be a whole number from 0"},
      {{"serve", "--body-delay", "600001"}, "--body-delay must be a whole number from 0 to 600000"},
      {{"serve", "--fail-first", "-2"}, "--fail-first must be a whole number from 0"},
      {{"serve", "--probability", "1.5"}, "--probability must be a number from 0 to 1, got \"1.5\""},
      {{"serve", "--probability", "nan"}, "--probability must be a number from 0 to 1"},
      {{"serve", "--probability", "0.5", "--seed", "-1"}, "--seed must be a whole number from 0"},
      {{"serve", "--seed", "4"}, "--seed requires --probability"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {VOICECTL_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Outcome outcome = RunProgram(argv);
    EXPECT_EQ(outcome.exitCode, 2) << c.args[0];
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
  }
}

// Python's http.client keeps a connection for the next request unless the
// answer says "Connection: close"; requests without a length or beyond
// the bound are answered, not dropped.
TEST(VoicectlTest, GeneralHttpClientsGetAnswers) {
  if (RunProgram({"python3", "-c", "pass"}).exitCode != 0) GTEST_SKIP() << "no python3";
  Server server({});
  const std::string script =
      "import http.client, sys\n"
      "c = http.client.HTTPConnection('127.0.0.1', int(sys.argv[1]), timeout=5)\n"
      "body = (b'<?xml version=\"1.0\" ?><Interface><Request><Seq_No>4</Seq_No>'\n"
      "        b'<FlowID>1004</FlowID><FieldNum>0</FieldNum><Field></Field></Request></Interface>')\n"
      "for _ in range(2):\n"
      "    c.request('QALL', '/MyURL/', body)\n"
      "    r = c.getresponse(); r.read(); print(r.status, r.getheader('Connection'))\n"
      "c.request('GET', '/'); r = c.getresponse(); r.read(); print(r.status)\n"
      "c.request('QALL', '/MyURL/', b'x' * 70000); r = c.getresponse(); r.read(); print(r.status)\n";
  Outcome python = RunProgram({"python3", "-c", script, std::to_string(server.port())});
  EXPECT_EQ(python.exitCode, 0) << python.err;
  EXPECT_EQ(python.out, "200 close\n200 close\n400\n413\n");

  if (RunProgram({"curl", "--version"}).exitCode != 0) GTEST_SKIP() << "curl is not installed";
  // Asked to wait for "100 Continue" far longer than the time it is allowed,
  // curl only succeeds when the server sends it.
  Outcome curl = RunProgram({"curl", "-sS", "-i", "--max-time", "5", "--expect100-timeout", "30",
                             "-H", "Expect: 100-continue", "-X", "QSINGLE", "--data-binary",
                             "<Interface/>", "http://" + server.address() + "/MyURL/"});
  EXPECT_EQ(curl.exitCode, 0) << curl.err;
  EXPECT_EQ(curl.out.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n", 0), 0u)
      << curl.out;
}

struct CodePageCase {
  const char* codePage;
  const char* encoding;
};

class VoicectlCodePageTest : public ::testing::TestWithParam<CodePageCase> {};

// Chinese text goes out in the request and comes back in the answer.
TEST_P(VoicectlCodePageTest, ChineseTextArrivesIntactBothWays) {
  Server server({"--encoding", GetParam().encoding});
  const std::string title = "\xE5\x91\xA8\xE4\xBC\x9A\xE8\xAE\xA8\xE8\xAE\xBA";  // 周会讨论
  auto run = [&](std::vector<std::string> command) {
    std::vector<std::string> argv = {VOICECTL_PATH, "--server", server.address(), "--codepage",
                                     GetParam().codePage};
    argv.insert(argv.end(), command.begin(), command.end());
    return RunProgram(argv);
  };
  Outcome created = run({"create", "s1", "\xE7\x8E\x8B\xE8\x8A\xB3", title, "m"});  // 王芳
  EXPECT_EQ(created.exitCode, 0) << created.err;
  Outcome single = run({"qsingle", "s1"});
  EXPECT_EQ(single.exitCode, 0) << single.err;
  EXPECT_EQ(single.out.rfind("OnQSingleResult \"s1\" \"found\" \"\xE7\x8E\x8B\xE8\x8A\xB3\" \"" +
                                 title + "\" \"m\"",
                             0),
            0u)
      << single.out;
  Outcome all = run({"qall"});
  EXPECT_NE(all.out.find("\"" + title + "\""), std::string::npos) << all.out;
}

INSTANTIATE_TEST_SUITE_P(CodePages, VoicectlCodePageTest,
                         ::testing::Values(CodePageCase{"GB18030", "gb2312"},
                                           CodePageCase{"UTF-8", "utf-8"}),
                         [](const ::testing::TestParamInfo<CodePageCase>& info) {
                           return std::string(info.param.encoding[0] == 'g' ? "Gb2312" : "Utf8");
                         });

TEST(VoicectlTest, UnknownCodePageIsABadCommandLine) {
  Outcome outcome = RunProgram({VOICECTL_PATH, "--codepage", "KOI9", "qall"});
  EXPECT_EQ(outcome.exitCode, 2);
  EXPECT_NE(outcome.err.find("--codepage: unknown code page \"KOI9\""), std::string::npos)
      << outcome.err;
}

// After "connect error." the library writes no log, after "timeout." no
// answer log: --show-logs must not pass an earlier command's record off as
// this one's.
TEST(VoicectlTest, ShowLogsShowsOnlyWhatThisCommandWrote) {
  Server server({});
  const fs::path dir = TempDir();
  const std::vector<std::string> logs = {"--log-dir", dir.string(), "--show-logs"};
  auto client = [&](const std::string& address, std::vector<std::string> command) {
    std::vector<std::string> argv = {VOICECTL_PATH, "--server", address};
    argv.insert(argv.end(), logs.begin(), logs.end());
    argv.insert(argv.end(), command.begin(), command.end());
    return RunProgram(argv);
  };
  const std::string send = "== " + (dir / "SendVoiceMsg.log").string();
  const std::string receive = "== " + (dir / "RecvVoiceMsg.log").string();
  const std::string earlier = ": not written by this command (it holds an earlier record, "
                              "not shown)\n";

  Outcome first = client(server.address(), {"qsingle", "s1"});
  EXPECT_NE(first.out.find(send + "\n---> \r\nQSINGLE /MyURL/"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find(receive + "\n<--- \r\nHTTP/1.1 200 OK"), std::string::npos);

  Server closing({"--close-early"});
  Outcome timedOut = client(closing.address(), {"qall"});
  EXPECT_EQ(timedOut.err, "error: timeout. (peer closed before a complete answer)\n");
  EXPECT_NE(timedOut.out.find(send + "\n---> \r\nQALL /MyURL/"), std::string::npos)
      << timedOut.out;
  EXPECT_NE(timedOut.out.find(receive + earlier), std::string::npos) << timedOut.out;
  EXPECT_EQ(timedOut.out.find("HTTP/1.1 200 OK"), std::string::npos) << timedOut.out;

  const std::string address = server.address();
  server.Stop();
  Outcome refused = client(address, {"qall"});
  EXPECT_EQ(refused.out, send + earlier + receive + earlier);

  fs::remove_all(dir);
  Outcome nothing = client(address, {"qall"});
  EXPECT_EQ(nothing.out, send + ": not written by this command\n" + receive +
                             ": not written by this command\n");
  fs::remove_all(dir);
}

// Without HOME and XDG_STATE_HOME the logs go to a private temporary
// directory, said once, and removed at the end.
TEST(VoicectlTest, RunsWithoutHomeInAPrivateDirectory) {
  Server server({});
  const fs::path temp = TempDir();
  Outcome outcome =
      RunProgram({VOICECTL_PATH, "--server", server.address(), "--show-logs", "qall"},
                 {"HOME", "XDG_STATE_HOME", "TMPDIR=" + temp.string()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  const std::string said = "voicectl: neither XDG_STATE_HOME nor HOME is set: the logs go to " +
                           (temp / "voicectl-").string();
  EXPECT_EQ(outcome.err.rfind(said, 0), 0u) << outcome.err;
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  EXPECT_NE(outcome.err.find(", removed at exit\n"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.out.find("---> \r\nQALL /MyURL/"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("<--- \r\nHTTP/1.1 200 OK"), std::string::npos) << outcome.out;
  EXPECT_EQ(Entries(temp), std::vector<std::string>{});
  fs::remove_all(temp);
}

struct StopCase {
  int signal;
  bool privateDirectory;  // no HOME: the logs in a private temporary directory
};

void PrintTo(const StopCase& c, std::ostream* os) {
  *os << (c.signal == SIGTERM ? "SIGTERM" : "SIGINT")
      << (c.privateDirectory ? ", private directory" : ", --log-dir");
}

class VoicectlStopTest : public ::testing::TestWithParam<StopCase> {};

// Stopped while it waits for an answer, the client leaves no folder of its
// own behind, and it never changes its working directory to place the logs.
TEST_P(VoicectlStopTest, StoppedClientLeavesNothingBehind) {
  Server server({"--no-answer"});
  const fs::path temp = TempDir();
  const fs::path logDir = temp / "logs" / "a";
  std::vector<std::string> argv = {VOICECTL_PATH, "--server", server.address()};
  std::vector<std::string> environment = {"TMPDIR=" + temp.string()};
  if (GetParam().privateDirectory) {
    environment.insert(environment.end(), {"HOME", "XDG_STATE_HOME"});
  } else {
    argv.insert(argv.end(), {"--log-dir", logDir.string()});
  }
  argv.push_back("qall");
  Program client(argv, environment);
  fs::path sendLog = logDir / "SendVoiceMsg.log";
  if (GetParam().privateDirectory) {
    // The one directory the client made: voicectl-PID.XXXXXX.
    for (int i = 0; i < 1000 && Entries(temp).empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(Entries(temp).size(), 1u);
    sendLog = temp / Entries(temp)[0] / "SendVoiceMsg.log";
  }
  ASSERT_TRUE(AppearsSoon(sendLog));  // the request is out; the answer never comes
  const fs::path cwd = "/proc/" + std::to_string(client.pid()) + "/cwd";
  EXPECT_EQ(fs::read_symlink(cwd), fs::current_path());

  kill(client.pid(), GetParam().signal);
  Outcome outcome = client.Wait();
  EXPECT_EQ(outcome.exitCode, 128 + GetParam().signal) << outcome.err;
  if (GetParam().privateDirectory) {
    EXPECT_EQ(Entries(temp), std::vector<std::string>{});
  } else {
    // The log it wrote stays; nothing else does.
    EXPECT_EQ(Entries(logDir), std::vector<std::string>{"SendVoiceMsg.log"});
  }
  fs::remove_all(temp);
}

INSTANTIATE_TEST_SUITE_P(Signals, VoicectlStopTest,
                         ::testing::Values(StopCase{SIGTERM, false}, StopCase{SIGINT, false},
                                           StopCase{SIGTERM, true}, StopCase{SIGINT, true}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                           return std::string(info.param.signal == SIGTERM ? "Term" : "Int") +
                                  (info.param.privateDirectory ? "PrivateDir" : "LogDir");
                         });

// Folders that killed clients left behind are swept at the next start:
// working folders of earlier versions in the log directory, private
// directories in the temporary one; those of running processes stay.
TEST(VoicectlTest, FoldersOfEndedClientsAreSwept) {
  Server server({});
  const fs::path temp = TempDir();
  const std::string gone = std::to_string(GonePid());
  const std::string running = std::to_string(getpid());
  const fs::path logDir = temp / "logs";
  for (const std::string& pid : {gone, running}) {
    fs::create_directories(logDir / (".voicectl-" + pid));
    fs::create_directories(temp / ("voicectl-" + pid + ".a1b2c3"));
    std::ofstream(temp / ("voicectl-" + pid + ".a1b2c3") / "SendVoiceMsg.log") << "old";
  }
  EXPECT_EQ(Client(server, {"--log-dir", logDir.string(), "qall"}).exitCode, 0);
  EXPECT_EQ(Entries(logDir), (std::vector<std::string>{".voicectl-" + running, "RecvVoiceMsg.log",
                                                       "SendVoiceMsg.log"}));
  Outcome outcome = RunProgram({VOICECTL_PATH, "--server", server.address(), "qall"},
                               {"HOME", "XDG_STATE_HOME", "TMPDIR=" + temp.string()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(Entries(temp), (std::vector<std::string>{"logs", "voicectl-" + running + ".a1b2c3"}));
  fs::remove_all(temp);
}

// The demo keeps its logs in a directory of its own run and removes it.
TEST(VoicectlTest, DemoKeepsItsLogsToItself) {
  const fs::path temp = TempDir();
  Outcome demo = RunProgram({VOICECTL_PATH, "demo"}, {"TMPDIR=" + temp.string()});
  EXPECT_EQ(demo.exitCode, 0) << demo.err;
  EXPECT_NE(demo.out.find("; logs in " + (temp / "voicectl-").string()), std::string::npos)
      << demo.out;
  EXPECT_NE(demo.out.find("demo finished: every outcome as expected"), std::string::npos);
  EXPECT_EQ(Entries(temp), std::vector<std::string>{});
  fs::remove_all(temp);
}

}  // namespace
