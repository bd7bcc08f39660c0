// What the connector client does when someone else answers, when a wait would never end, and
// when the process itself is short of memory or started with odd signal dispositions.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

// Stops the test with the errno text when a system call of the test failed.
void must(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

constexpr char kBadPermissions[] = "Connector endpoint permissions are invalid\n";
// An MCP session that calls the tags tool as its request 2.
constexpr char kToolCall[] =
    R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})"
    "\n"
    R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
    "\n"
    R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"quorvi_tags","arguments":{}}})"
    "\n";
constexpr char kResponseMemory[] =
    "Not enough memory for the connector response; check the note before retrying changes";

// Binds DIR/q-test.sock and writes connection.json, both private to root; returns the listener.
int publish(const std::string& dir, int backlog) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::string path = dir + "/q-test.sock";
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  must(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
  must(::chmod(path.c_str(), 0600) == 0, "chmod");
  write_file(dir + "/connection.json",
             R"({"socket":"q-test.sock","token":")" + std::string(72, 't') + "\"}");
  must(::chmod((dir + "/connection.json").c_str(), 0600) == 0, "chmod");
  if (backlog >= 0) must(::listen(fd, backlog) == 0, "listen");
  return fd;
}

// A connector in a child process that listens as `uid` and answers every request with `body`,
// until it is killed.
pid_t serve(const std::string& dir, const std::string& body, uid_t uid = 0) {
  int ready[2];
  must(::pipe(ready) == 0, "pipe");
  pid_t pid = ::fork();
  must(pid >= 0, "fork");
  if (pid == 0) {
    int listener = publish(dir, -1);
    // Linux records the credentials of the process that calls listen().
    if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) ::_exit(1);
    if (::listen(listener, 8) != 0 || ::write(ready[1], "r", 1) != 1) ::_exit(1);
    std::string answer = {char(body.size() >> 24), char(body.size() >> 16), char(body.size() >> 8),
                          char(body.size())};
    answer += body;
    for (;;) {
      int connection = ::accept(listener, nullptr, nullptr);
      std::string request;
      char chunk[4096];
      ssize_t got;
      while ((got = ::recv(connection, chunk, sizeof chunk, 0)) > 0) {
        request.append(chunk, static_cast<size_t>(got));
        auto byte = [&](size_t i) { return size_t{static_cast<unsigned char>(request[i])}; };
        if (request.size() >= 4 &&
            request.size() >= 4 + (byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3))) {
          ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
          break;
        }
      }
      ::close(connection);
    }
  }
  char byte;
  must(::read(ready[0], &byte, 1) == 1, "connector start");
  ::close(ready[0]);
  ::close(ready[1]);
  return pid;
}

void stop(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// Runs quorvi with `args`, through `sh -c 'SHELL_PREFIX; exec quorvi ARGS'` when a prefix is
// given, or through `program` when one is.
Result quorvi(std::vector<std::string> args, const Env& env, const std::string& input = "",
              const std::string& shell_prefix = "", const std::string& program = "") {
  Command command;
  command.args = std::move(args);
  command.env = env;
  command.input = input;
  command.timeout_ms = 20000;
  if (!shell_prefix.empty()) {
    command.program = "/bin/sh";
    command.args.insert(command.args.begin(),
                        {"-c", shell_prefix + "; exec \"$0\" \"$@\"", quorvi_exe()});
  } else if (!program.empty()) {
    command.program = program;
  }
  return run(command);
}

Result request(const Env& env, const std::string& shell_prefix = "") {
  return quorvi({"request", "tags", "{}"}, env, "", shell_prefix);
}

TEST(ConnectorDefence, AnswersOnlyFromTheEffectiveUser) {
  TempDir temp;
  pid_t other = serve(temp.path(), R"({"result":"forged"})", 65534);
  Result result = request({{"QUORVI_BRIDGE_DIR", temp.path()}});
  stop(other);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kBadPermissions);
}

TEST(ConnectorDefence, TrailingSeparatorDoesNotFollowASymlink) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  std::filesystem::create_directory_symlink(app.dir(), temp / "link");
  for (const char* suffix : {"/", "//"}) {
    Result result = request({{"QUORVI_BRIDGE_DIR", temp / "link" + suffix}});
    EXPECT_EQ(result.err, kBadPermissions) << suffix;
  }
  EXPECT_EQ(request({{"QUORVI_BRIDGE_DIR", app.dir() + "/"}}).status, 0);
}

TEST(ConnectorDefence, SignalDispositionOfTheParentChangesNothing) {
  TempDir temp;
  Env env = {{"QUORVI_TEST_OPENER_LOG", temp / "log"}};
  Result result =
      quorvi({"--ignore-signal=CHLD", quorvi_exe(), "new", "hello"}, env, "", "", "/usr/bin/env");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(temp / "log"), "quorvi://x-callback-url/create?text=hello\n");
}

TEST(ConnectorDefence, InvalidScopeIsRefusedBeforeAnyLaunch) {
  TempDir home;
  Result result = request({{"HOME", home.path()},
                           {"QUORVI_BRIDGE_DIR", std::nullopt},
                           {"QUORVI_ONLY_TAGS", "work,\xFF"},
                           {"QUORVI_TEST_OPENER_LOG", home / "log"}});
  EXPECT_EQ(result.err, "Invalid QUORVI_ONLY_TAGS\n");
  EXPECT_FALSE(std::filesystem::exists(home / "log"));
}

// The app's launch must not be able to read, or write into, the MCP client's stream: the
// opener here appends its arguments to what it has as standard input.
TEST(ConnectorDefence, LaunchedAppGetsNoStandardInput) {
  TempDir home;
  std::string dir = home / "Library/Application Support/Quorvi/Automation";
  Env env = {{"HOME", home.path()},
             {"QUORVI_BRIDGE_DIR", std::nullopt},
             {"QUORVI_TEST_OPENER_LOG", "/dev/stdin"},
             {"QUORVI_TEST_OPENER_LAUNCH", standin_app_exe() + " '" + dir + "'"},
             {"QUORVI_TEST_OPENER_LAUNCH_PID", home / "pid"}};
  Result result = quorvi({"mcp-server"}, env, kToolCall);
  if (std::filesystem::exists(home / "pid")) ::kill(std::stoi(read_file(home / "pid")), SIGTERM);
  EXPECT_EQ(result.out.find("Parse error"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(R"("isError":false)"), std::string::npos) << result.out;
}

// An 8 MiB answer of empty objects, under an address-space limit that a tree of one node per
// value would not fit: the answer passes whole, or fails as an ordinary failure.
TEST(ConnectorDefence, LargeAnswerOfSmallValuesFitsItsSize) {
  if (kSanitized) GTEST_SKIP();
  std::string result = "[{}";
  while (result.size() < (8u << 20) - 16)
    result += ",{}";
  result += ']';
  TempDir temp;
  pid_t app = serve(temp.path(), R"({"result":)" + result + "}");
  Env env = {{"QUORVI_BRIDGE_DIR", temp.path()}};
  Result fits = request(env, "ulimit -v 120000");
  Result short_of_memory = request(env, "ulimit -v 30000");
  Result session = quorvi({"mcp-server"}, env,
                          std::string(kToolCall) + R"({"jsonrpc":"2.0","id":3,"method":"ping"})",
                          "ulimit -v 30000");
  stop(app);
  EXPECT_EQ(fits.status, 0) << fits.err;
  EXPECT_EQ(fits.out, result + "\n");
  EXPECT_EQ(short_of_memory.status, 1);
  EXPECT_EQ(short_of_memory.err, std::string(kResponseMemory) + "\n");
  EXPECT_EQ(session.status, 0);
  EXPECT_NE(session.out.find(std::string(kResponseMemory) + R"(","type":"text"}],"isError":true})"),
            std::string::npos)
      << session.out.substr(0, 500);
  EXPECT_NE(session.out.find(R"({"id":3,"jsonrpc":"2.0","result":{}})"), std::string::npos);
}

// A connector whose queue of pending connections is full, as when the app hangs: the connect
// gives up with the send deadline.
TEST(ConnectorDefenceSlow, FullAcceptQueueEndsWithTheSendDeadline) {
  TempDir temp;
  int listener = publish(temp.path(), 0);
  int queued[4];
  for (int& fd : queued) {
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (temp / "q-test.sock").c_str(), sizeof address.sun_path - 1);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  Result result = request({{"QUORVI_BRIDGE_DIR", temp.path()}});
  for (int fd : queued)
    ::close(fd);
  ::close(listener);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Open Quorvi and enable Desktop connector in Settings\n");
}

}  // namespace
}  // namespace quorvi::test
