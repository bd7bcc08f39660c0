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
// A call of the tags tool in the stateless revision, which needs no handshake.
constexpr char kToolCall[] =
    R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"quorvi_tags","arguments":{},)"
    R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28",)"
    R"("io.modelcontextprotocol/clientCapabilities":{}}}})"
    "\n";

sockaddr_un address_of(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// Binds DIR/q-test.sock and writes connection.json, both private to root; returns the socket,
// listening unless `backlog` is negative.
int publish(const std::string& dir, int backlog) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = address_of(dir + "/q-test.sock");
  must(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
  write_file(dir + "/connection.json",
             R"({"socket":"q-test.sock","token":")" + std::string(72, 't') + "\"}");
  must(::chmod(address.sun_path, 0600) == 0 &&
           ::chmod((dir + "/connection.json").c_str(), 0600) == 0,
       "chmod");
  if (backlog >= 0) must(::listen(fd, backlog) == 0, "listen");
  return fd;
}

// A connector in a child process that listens as `uid` and, once it has a whole request frame,
// answers with `body`; until it is killed.
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
      unsigned char size[4];
      if (::recv(connection, size, 4, MSG_WAITALL) == 4) {
        std::string request(size_t{size[0]} << 24 | size[1] << 16 | size[2] << 8 | size[3], '\0');
        ::recv(connection, request.data(), request.size(), MSG_WAITALL);
        ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
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

// Runs `bash -c 'PREFIX; exec quorvi ARGS'`: the prefix sets limits and signal dispositions (dash
// cannot leave the child-ended signal ignored).
Result quorvi(std::vector<std::string> args, const Env& env, const std::string& prefix = ":",
              const std::string& input = "") {
  Command command;
  command.args = {"-c", prefix + "; exec \"$0\" \"$@\"", quorvi_exe()};
  command.args.insert(command.args.end(), args.begin(), args.end());
  command.env = env;
  command.input = input;
  command.program = "/bin/bash";
  return run(command);
}

Result request(const Env& env, const std::string& prefix = ":") {
  return quorvi({"request", "tags", "{}"}, env, prefix);
}

TEST(ConnectorDefence, AnswersOnlyFromTheEffectiveUser) {
  TempDir temp;
  pid_t other = serve(temp.path(), R"({"result":"forged"})", 65534);
  Result result = request({{"QUORVI_BRIDGE_DIR", temp.path()}});
  stop(other);
  EXPECT_EQ(result.out + result.err, kBadPermissions);
}

TEST(ConnectorDefence, TrailingSeparatorDoesNotFollowASymlink) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  std::filesystem::create_directory_symlink(app.dir(), temp / "link");
  for (auto [dir, err] : {std::pair{temp / "link/", kBadPermissions},
                          {temp / "link//", kBadPermissions},
                          {app.dir() + "/", ""}}) {
    EXPECT_EQ(request({{"QUORVI_BRIDGE_DIR", dir}}).err, err) << dir;
  }
}

// Ignored, as a parent may leave it, the child-ended signal would make waiting for the opener
// fail.
TEST(ConnectorDefence, SignalDispositionOfTheParentChangesNothing) {
  Result result = quorvi({"new", "hello"}, {}, "trap '' CHLD");
  EXPECT_EQ(result.status, 0) << result.err;
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
  Result result = quorvi({"mcp-server"}, env, ":", kToolCall);
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
  stop(app);
  EXPECT_TRUE(fits.out == result + "\n") << fits.err;
  EXPECT_EQ(
      short_of_memory.out + short_of_memory.err,
      "Not enough memory for the connector response; check the note before retrying changes\n");
}

// A connector whose queue of pending connections is full, as when the app hangs: the connect
// gives up with the send deadline.
TEST(ConnectorDefenceSlow, FullAcceptQueueEndsWithTheSendDeadline) {
  TempDir temp;
  int listener = publish(temp.path(), 0);
  sockaddr_un address = address_of(temp / "q-test.sock");
  int queued[4];
  for (int& fd : queued) {
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  Result result = request({{"QUORVI_BRIDGE_DIR", temp.path()}});
  for (int fd : queued)
    ::close(fd);
  ::close(listener);
  EXPECT_EQ(result.err, "Open Quorvi and enable Desktop connector in Settings\n");
}

}  // namespace
}  // namespace quorvi::test
