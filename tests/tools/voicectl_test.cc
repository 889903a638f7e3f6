// End-to-end tests of the voicectl binary: the client against `voicectl
// serve`, every fault flag and the error text it leads to, a real HTTP
// client against the simulator, and bad command lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

// Runs a program to its end with stdout and stderr captured.
Outcome RunProgram(std::vector<std::string> argv) {
  const fs::path dir = TempDir();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (dir / "out").c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  Outcome outcome;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = ReadFile(dir / "out");
  outcome.err = ReadFile(dir / "err");
  fs::remove_all(dir);
  return outcome;
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
  // A single entry reaches the host unsplit, list terminators included.
  EXPECT_EQ(all.out.rfind("OnQAllEntry \"s1,\" \"alice,\" \"weekly sync,\" \"alice;bob,\" "
                          "\"1,\" \"alice,\" \"65535,\" \"",
                          0),
            0u)
      << all.out;
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
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  for (const auto& flag : c.flags) *os << flag << " ";
  *os << "-> " << c.errorText;
}

class VoicectlFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(VoicectlFaultTest, FaultFlagLeadsToItsErrorText) {
  Server server(GetParam().flags);
  Outcome outcome = Client(server, {"qall"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, std::string("error: ") + GetParam().errorText + "\n");
}

INSTANTIATE_TEST_SUITE_P(Faults, VoicectlFaultTest,
                         ::testing::Values(FaultCase{{"--close-early"}, "timeout."},
                                           FaultCase{{"--no-answer"}, "timeout."},
                                           FaultCase{{"--status", "299"}, "decode."},
                                           FaultCase{{"--http10"}, "decode."},
                                           FaultCase{{"--flowid", "2000"}, "bad message."},
                                           FaultCase{{"--fieldnum", "0"}, "param error."},
                                           FaultCase{{"--garbage"}, "bad message."},
                                           FaultCase{{"--oversize"}, "decode."},
                                           FaultCase{{"--partial"}, "timeout."}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           std::string name;
                           for (const char c : info.param.flags[0]) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

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
  EXPECT_EQ(outcome.err, "error: connect error.\n");
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
  EXPECT_NE(missing.err.find("B is required"), std::string::npos) << missing.err;

  Outcome extra = RunProgram({VOICECTL_PATH, "qsingle", "a", "b"});
  EXPECT_EQ(extra.exitCode, 2);
  EXPECT_NE(extra.err.find("not expected"), std::string::npos) << extra.err;

  Outcome port = RunProgram({VOICECTL_PATH, "--server", "127.0.0.1:http", "qall"});
  EXPECT_EQ(port.exitCode, 2);
  EXPECT_NE(port.err.find("port is not a number"), std::string::npos) << port.err;

  Outcome range = RunProgram({VOICECTL_PATH, "change", "a", "b", "65536"});
  EXPECT_EQ(range.exitCode, 2);
  EXPECT_NE(range.err.find("65535"), std::string::npos) << range.err;

  Outcome help = RunProgram({VOICECTL_PATH, "dscall", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("SECONDS"), std::string::npos) << help.out;
}

}  // namespace
