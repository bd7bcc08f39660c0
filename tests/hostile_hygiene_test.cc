// Resource hygiene: a long MCP session and a request that launches the app leave no descriptor
// open and no child behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "e2e.h"
#include "hostile_child.h"
#include "standin.h"

namespace quorvi::test {
namespace {

const std::string kHandshake =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25",)"
    R"("capabilities":{},"clientInfo":{"name":"hostile"}}})"
    "\n"
    R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
    "\n"
    R"({"jsonrpc":"2.0","id":"p","method":"ping"})"
    "\n";

void nap(int ms) {
  timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  ::nanosleep(&pause, nullptr);
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string shell_quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TEST(HostileHygieneSlow, TenThousandToolCallsLeaveNothingOpen) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  Child server({"mcp-server"}, clean_env({{"QUORVI_BRIDGE_DIR", app.dir()}}), temp / "err");
  ASSERT_TRUE(server.send(kHandshake));
  ASSERT_TRUE(server.line());  // initialize
  ASSERT_TRUE(server.line());  // ping: the notification before it has been handled too
  // The server now waits for input: what it holds is what it holds between calls.
  std::vector<std::string> at_start = open_descriptors(server.pid());
  EXPECT_EQ(at_start, (std::vector<std::string>{"0", "1", "2"}));

  for (int i = 1; i <= 10000; ++i) {
    std::string call = R"({"jsonrpc":"2.0","id":)" + std::to_string(i) +
                       R"(,"method":"tools/call","params":{"name":"quorvi_tags"}})"
                       "\n";
    ASSERT_TRUE(server.send(call)) << "call " << i;
    std::optional<std::string> answer = server.line();
    ASSERT_TRUE(answer) << "call " << i;
    ASSERT_NE(answer->find(R"("isError":false)"), std::string::npos) << *answer;
    if (i % 2500 == 0) {
      EXPECT_EQ(open_descriptors(server.pid()), at_start) << "after " << i << " calls";
      EXPECT_EQ(children_of(server.pid()), std::vector<std::string>{}) << "after " << i;
    }
  }
  Exit exit = server.finish(10000);
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(read_file(temp / "err"), "");
  std::cout << "10,000 tool calls: peak memory " << exit.peak_rss_kib << " KiB\n";
}

TEST(HostileHygiene, RequestThatLaunchesTheAppLeavesNothingOpen) {
  TempDir home;
  std::string dir = home / "Library/Application Support/Quorvi/Automation";
  // The app comes up a little late and answers slowly, so that the request can be watched
  // while it waits for the answer.
  std::string launch = shell_quote(standin_app_exe()) + " " + shell_quote(dir) +
                       " --start-delay-ms 300 --fault delay --delay-ms 1500 --record " +
                       shell_quote(home / "requests");
  Child request({"request", "tags", "{}"},
                clean_env({{"HOME", home.path()},
                           {"QUORVI_TEST_OPENER_LAUNCH", launch},
                           {"QUORVI_TEST_OPENER_LAUNCH_PID", home / "pid"}}),
                home / "err");
  for (int waited = 0; read_file(home / "requests").empty() && waited < 10000; waited += 10)
    nap(10);
  ASSERT_FALSE(read_file(home / "requests").empty()) << read_file(home / "err");
  // Sent and waiting: the standard streams and the one connection, and the opener reaped.
  EXPECT_EQ(open_descriptors(request.pid()), (std::vector<std::string>{"0", "1", "2", "3"}));
  EXPECT_EQ(children_of(request.pid()), std::vector<std::string>{});
  EXPECT_EQ(request.finish(10000).status, 0) << read_file(home / "err");

  // The launched app is nobody's child here: it removes its rendezvous when told to stop.
  pid_t app = static_cast<pid_t>(std::atoi(read_file(home / "pid").c_str()));
  ASSERT_GT(app, 0);
  ::kill(app, SIGTERM);
  for (int waited = 0; exists(dir + "/connection.json") && waited < 5000; waited += 20)
    nap(20);
  if (exists(dir + "/connection.json")) ::kill(app, SIGKILL);
}

}  // namespace
}  // namespace quorvi::test
