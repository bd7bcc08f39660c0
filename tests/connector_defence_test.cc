// What the connector client does when another user listens, when a wait would never end, and
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

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

// A call of the tags tool in the stateless revision, which needs no handshake.
constexpr char kToolCall[] =
    R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"quorvi_tags","arguments":{},)"
    R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28",)"
    R"("io.modelcontextprotocol/clientCapabilities":{}}}})"
    "\n";

// A connector in a child process, published in `dir` as private to the test's user, that listens
// as `uid` (only root may choose another) and never accepts: with `full`, its queue of pending
// connections is full, as when the app hangs. Until the holder goes.
struct Connector {
  pid_t pid;
  Connector(const std::string& dir, bool full, uid_t uid = ::geteuid()) {
    int ready[2];
    if (::pipe(ready) != 0 || (pid = ::fork()) < 0) throw std::runtime_error("fork");
    if (pid == 0) {
      int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{.sun_family = AF_UNIX};
      std::strncpy(address.sun_path, (dir + "/q-test.sock").c_str(), sizeof address.sun_path - 1);
      auto to = reinterpret_cast<sockaddr*>(&address);
      write_file(dir + "/connection.json",
                 R"({"socket":"q-test.sock","token":")" + std::string(72, 't') + "\"}");
      // Linux records the credentials of the process that calls listen().
      if (::bind(listener, to, sizeof address) != 0 || ::chmod(address.sun_path, 0600) != 0 ||
          (uid != ::geteuid() &&
           (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)) ||
          ::listen(listener, full ? 0 : 8) != 0)
        ::_exit(1);
      for (int queued = 0; full && queued < 4; ++queued)
        ::connect(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0), to, sizeof address);
      if (::write(ready[1], "r", 1) != 1) ::_exit(1);
      for (;;)
        ::pause();
    }
    char byte;
    ::close(ready[1]);  // so that the read ends if the child does
    bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!started) throw std::runtime_error("connector start");
  }
  ~Connector() { ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0); }
};

// An endpoint that another user listens on is refused, though its files are the user's own.
TEST(ConnectorDefence, RefusesAnEndpointThatAnotherUserListensOn) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can listen as another user";
  TempDir others;
  Connector other(others.path(), false, 65534);
  EXPECT_EQ(request(others.path()).err, "Connector endpoint permissions are invalid\n");
}

// What quorvi's parent may leave behind, and exec keeps: blocked signals, which neither the opener
// of a URL nor the app's launch may start with; an ignored child-ended signal, which would make
// waiting for the opener fail. Nor may the launch read, or write into, the MCP client's stream:
// the opener here appends its arguments to its standard input.
TEST(ConnectorDefence, ChildrenStartCleanWhateverTheParentLeft) {
  TempDir home;
  std::string signals = home / "signals",
              dir = home / "Library/Application Support/Quorvi/Automation";
  sigset_t blocked, before;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &before), 0);
  Result url =
      shell("trap '' CHLD; exec \"$0\" new hello", {}, {{"QUORVI_TEST_OPENER_SIGNALS", signals}});
  Result launch =
      run({.args = {"mcp-server"},
           .env = {{"HOME", home.path()},
                   {"QUORVI_TEST_OPENER_SIGNALS", signals},
                   {"QUORVI_TEST_OPENER_LOG", "/dev/stdin"},
                   {"QUORVI_TEST_OPENER_LAUNCH",
                    standin_app_exe() + " '" + dir + "' --pid-file '" + home / "pid" + "'"}},
           .input = kToolCall});
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (std::filesystem::exists(home / "pid")) ::kill(std::stoi(read_file(home / "pid")), SIGTERM);
  EXPECT_EQ(url.status, 0) << url.err;
  EXPECT_EQ(launch.out.find("Parse error"), std::string::npos) << launch.out;
  EXPECT_NE(launch.out.find(R"("isError":false)"), std::string::npos) << launch.out;
  EXPECT_EQ(read_file(signals), "SigBlk:\t0000000000000000\nSigBlk:\t0000000000000000\n");
}

// An 8 MiB answer of empty objects, under an address-space limit that a tree of one node per
// value would not fit: the answer passes whole, or fails as an ordinary failure.
TEST(ConnectorDefence, LargeAnswerOfSmallValuesFitsItsSize) {
  if (kSanitized) GTEST_SKIP() << "no address-space limit under the sanitizers";
  std::string result = "[{}";
  while (result.size() < (8u << 20) - 16)
    result += ",{}";
  result += ']';
  TempDir temp;
  write_file(temp / "answer", R"({"result":)" + result + "}");
  StandinApp app(temp / "Automation", {"--answer", temp / "answer"});
  Env env = {{"QUORVI_BRIDGE_DIR", app.dir()}};
  Result fits = shell("ulimit -v 40000; exec \"$0\" request tags {}", {}, env);
  Result short_of_memory = shell("ulimit -v 14000; exec \"$0\" request tags {}", {}, env);
  // Not EXPECT_EQ: a failure would print 8 MiB.
  EXPECT_TRUE(fits.out == result + "\n") << fits.err << " (" << fits.out.size() << " bytes)";
  EXPECT_EQ(
      short_of_memory.out + short_of_memory.err,
      "Not enough memory for the connector response; check the note before retrying changes\n");
}

// A connector whose queue of pending connections is full, as when the app hangs, found under
// HOME: the app is launched (whatever becomes of the opener) and retried, and the whole phase,
// not each of its 51 connects, gives up after about five and a half seconds. On Linux such a
// connect waits; macOS refuses it at once, so this measures what Linux does. The upper bound
// leaves four seconds for a busy machine and stays below the 10.1 seconds at least that two
// waits of a whole send timeout take.
TEST(ConnectorDefenceSlow, FullAcceptQueueUnderHomeGivesUpAfterFiveSeconds) {
  TempDir home;
  std::string dir = home / "Library/Application Support/Quorvi/Automation";
  std::filesystem::create_directories(dir);
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
  Connector hung(dir, true);
  Result result = run({.args = {"request", "tags", "{}"},
                       .env = {{"HOME", home.path()},
                               {"QUORVI_TEST_OPENER_LOG", home / "log"},
                               {"QUORVI_TEST_OPENER_STATUS", "signal"},
                               {"QUORVI_APP_PATH", "/Chosen.app"}}});
  EXPECT_EQ(result.err, kOff);
  EXPECT_GE(result.elapsed_ms, 4900);
  EXPECT_LT(result.elapsed_ms, 9500);
  EXPECT_EQ(read_file(home / "log"), "-g -j -a /Chosen.app --args --quorvi-background\n");
}

}  // namespace
}  // namespace quorvi::test
