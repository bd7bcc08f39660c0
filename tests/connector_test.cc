// `quorvi request` against the stand-in app: discovery and its refusals, the one framed
// request, the response and its faults, tag scopes, and the launch of the app with its retries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/mcp/json.h"
#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

namespace fs = std::filesystem;
using mcp::Json;
using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

constexpr char kOff[] = "Open Quorvi and enable Desktop connector in Settings";
constexpr char kBadPermissions[] = "Connector endpoint permissions are invalid";
constexpr char kSendFailed[] = "Connector request failed; check the note before retrying changes";
constexpr char kNoResponse[] = "Connector response failed; check the note before retrying changes";
constexpr char kNoRequest[] = "<no request>";
constexpr char kPrimary[] = "Library/Application Support/Quorvi/Automation";
constexpr char kGroup[] = "Library/Group Containers/9QVRK2N4TZ.group.quorvi/Automation";
constexpr size_t kLimit = 1048576;

// Every variable that steers the client is unset unless `changes` sets it.
Env connector_env(const Env& changes) {
  Env env;
  for (const char* name :
       {"QUORVI_BRIDGE_DIR", "QUORVI_ONLY_TAGS", "QUORVI_EXCLUDE_TAGS", "QUORVI_APP_PATH",
        "QUORVI_TEST_OPENER_LOG", "QUORVI_TEST_OPENER_STATUS", "QUORVI_TEST_OPENER_LAUNCH",
        "QUORVI_TEST_OPENER_LAUNCH_PID", "QUORVI_TEST_FAIL", "LD_PRELOAD"}) {
    env.emplace_back(name, std::nullopt);
  }
  for (const auto& change : changes) {
    bool replaced = false;
    for (auto& entry : env) {
      if (entry.first == change.first) {
        entry.second = change.second;
        replaced = true;
      }
    }
    if (!replaced) env.push_back(change);
  }
  return env;
}

Result request(const std::string& operation, const std::string& arguments, const Env& changes,
               const std::string& program = "") {
  Command command;
  command.args = {"request", operation, arguments};
  command.env = connector_env(changes);
  command.timeout_ms = 40000;
  command.program = program;
  return run(command);
}

void expect_refusal(const Result& result, const std::string& message, const std::string& what) {
  EXPECT_EQ(result.status, 1) << what;
  EXPECT_EQ(result.out, "") << what;
  EXPECT_EQ(result.err, message + "\n") << what;
}

std::string body_for(const std::string& operation, const Json& arguments, const Json& scope,
                     const std::string& token) {
  Json request = {
      {"arguments", arguments}, {"operation", operation}, {"scope", scope}, {"token", token}};
  return mcp::write(request);
}

Json scope_of(std::vector<std::string> only, std::vector<std::string> exclude) {
  return {{"excludeTags", exclude}, {"onlyTags", only}};
}

std::string shell_quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

void nap(int ms) {
  timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  ::nanosleep(&pause, nullptr);
}

TEST(Connector, SendsOneExactFrameAndPrintsTheResult) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  ASSERT_TRUE(app.ready());
  Result result = request("tags", "{}", {{"QUORVI_BRIDGE_DIR", app.dir()}});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  auto recorded = app.wait_recorded(1);
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0], R"({"arguments":{},"operation":"tags",)"
                         R"("scope":{"excludeTags":[],"onlyTags":[]},"token":")" +
                             app.token() + "\"}");
  // The result is the app's, printed compactly on one line.
  EXPECT_EQ(result.out, mcp::write(app.call("tags", Json::object())["result"]) + "\n");
  EXPECT_EQ(result.out.find('\n'), result.out.size() - 1);
}

TEST(Connector, ArgumentsAndOperationTravelUnchanged) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  const std::string arguments = R"({"z":[1,-0,2.50,"\u00e9\n"],"a":{"b":null,"A":true}})";
  Result result = request("-h", arguments, {{"QUORVI_BRIDGE_DIR", app.dir()}});
  auto recorded = app.wait_recorded(1);
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0],
            R"({"arguments":{"a":{"A":true,"b":null},"z":[1,-0.0,2.5,"é\n"]},"operation":"-h",)"
            R"("scope":{"excludeTags":[],"onlyTags":[]},"token":")" +
                app.token() + "\"}");
  EXPECT_EQ(result.status, 1);  // the app knows no operation "-h"
}

TEST(Connector, ReportsTheAppsErrorUnchanged) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  Result result = request("read", R"({"id":"no-such-note"})", {{"QUORVI_BRIDGE_DIR", app.dir()}});
  expect_refusal(result, "Note not found", "read");
}

TEST(Connector, ForwardsNormalizedTagScopes) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  Result result = request("tags", "{}",
                          {{"QUORVI_BRIDGE_DIR", app.dir()},
                           {"QUORVI_ONLY_TAGS", "Work, #Personal\n##Later##,,"},
                           {"QUORVI_EXCLUDE_TAGS", " \xC3\x89T\xC3\x89\r\n# #,a;b"}});
  EXPECT_EQ(result.status, 0) << result.err;
  auto recorded = app.wait_recorded(1);
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(
      recorded[0],
      body_for("tags", Json::object(),
               scope_of({"work", "personal", "later"}, {"\xC3\xA9t\xC3\xA9", "a;b"}), app.token()));
}

// The connection is made first; a scope that cannot be read then leaves it without data.
TEST(Connector, RefusesUnreadableTagScopesWithoutSending) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  struct Case {
    Env env;
    const char* message;
  } cases[] = {
      {{{"QUORVI_ONLY_TAGS", "work,\xFF"}, {"QUORVI_EXCLUDE_TAGS", "x"}},
       "Invalid QUORVI_ONLY_TAGS"},
      {{{"QUORVI_EXCLUDE_TAGS", "\xC0\x80"}}, "Invalid QUORVI_EXCLUDE_TAGS"},
  };
  for (const Case& c : cases) {
    Env env = c.env;
    env.emplace_back("QUORVI_BRIDGE_DIR", app.dir());
    expect_refusal(request("tags", "{}", env), c.message, c.message);
  }
  // Refused before connecting: the app never sees a connection.
  EXPECT_TRUE(app.recorded().empty());
}

// Tag variables hold control characters that the body escapes sixfold, so a body of any size
// fits in the environment. `extra` bytes are added to a body that would be exactly 1 MiB.
Env limit_scope(const std::string& token, size_t extra) {
  std::string base = body_for("tags", Json::object(), scope_of({""}, {""}), token);
  size_t missing = kLimit + extra - base.size();
  const size_t first = 120000;  // escaped: 720,000 bytes
  size_t rest = missing - 6 * first;
  std::string only(first, '\x01');
  std::string exclude(rest / 6, '\x01');
  exclude.append(rest % 6, 'a');
  return {{"QUORVI_ONLY_TAGS", only}, {"QUORVI_EXCLUDE_TAGS", exclude}};
}

TEST(Connector, RequestLimitIsOneMebibyte) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  Env env = limit_scope(app.token(), 0);
  env.emplace_back("QUORVI_BRIDGE_DIR", app.dir());
  Result result = request("tags", "{}", env);
  EXPECT_EQ(result.status, 0) << result.err;
  auto recorded = app.wait_recorded(1);
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].size(), kLimit);

  env = limit_scope(app.token(), 1);
  env.emplace_back("QUORVI_BRIDGE_DIR", app.dir());
  expect_refusal(request("tags", "{}", env), "Request exceeds the 1 MB connector limit", "+1");
  recorded = app.wait_recorded(2);
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[1], kNoRequest);
}

TEST(Connector, ResponseFaults) {
  struct Case {
    std::vector<std::string> options;
    const char* message;  // nullptr when the call succeeds
    std::string out = "";
  } cases[] = {
      {{"--fault", "close"}, kNoResponse},
      {{"--fault", "partial"}, "Incomplete connector response"},
      {{"--fault", "zero-length"}, "Invalid connector response size"},
      {{"--fault", "oversize"}, "Invalid connector response size"},
      {{"--fault", "not-json"}, "Invalid connector response"},
      {{"--fault", "invalid-utf8"}, "Invalid connector response"},
      {{"--fault", "error-null"}, nullptr, "42\n"},
      {{"--fault", "trailing"}, nullptr},
      {{"--fault", "max-size"}, nullptr},
      {{"--delay-ms", "300"}, nullptr},
  };
  for (const Case& c : cases) {
    TempDir temp;
    StandinApp app(temp / "Automation", c.options);
    ASSERT_TRUE(app.ready()) << c.options[1];
    Result result = request("tags", "{}", {{"QUORVI_BRIDGE_DIR", app.dir()}});
    if (c.message) {
      expect_refusal(result, c.message, c.options[1]);
      continue;
    }
    EXPECT_EQ(result.status, 0) << c.options[1] << ": " << result.err;
    EXPECT_EQ(result.err, "") << c.options[1];
    if (c.out.empty()) {
      EXPECT_NE(result.out.find("\"tags\""), std::string::npos) << c.options[1];
    } else {
      EXPECT_EQ(result.out, c.out) << c.options[1];
    }
  }
}

// A directory that looks like the app's, for the refusals that need no running app.
struct FakeAutomation {
  std::string dir;
  std::string file;
  explicit FakeAutomation(const std::string& path, const std::string& content)
      : dir(path), file(path + "/connection.json") {
    fs::create_directories(dir);
    ::chmod(dir.c_str(), 0700);
    write_file(file, content);
    ::chmod(file.c_str(), 0600);
  }
};

std::string rendezvous(const std::string& socket, const std::string& token) {
  return mcp::write(Json{{"socket", socket}, {"token", token}});
}

TEST(Connector, DiscoveryRefusalsWithoutLaunch) {
  const std::string token(72, 'k');
  struct Case {
    const char* what;
    std::function<std::string(const TempDir&)> prepare;  // returns QUORVI_BRIDGE_DIR
    const char* message;
  } cases[] = {
      {"empty directory name", [](const TempDir&) { return std::string(); }, kOff},
      {"absent directory", [](const TempDir& t) { return t / "none"; }, kOff},
      {"directory open to group",
       [&](const TempDir& t) {
         FakeAutomation a(t / "A", rendezvous("q-a.sock", token));
         ::chmod(a.dir.c_str(), 0750);
         return a.dir;
       },
       kBadPermissions},
      {"symlinked directory",
       [&](const TempDir& t) {
         FakeAutomation a(t / "A", rendezvous("q-a.sock", token));
         fs::create_directory_symlink(a.dir, t / "link");
         return t / "link";
       },
       kBadPermissions},
      {"no rendezvous file",
       [](const TempDir& t) {
         fs::create_directories(t / "A");
         ::chmod((t / "A").c_str(), 0700);
         return t / "A";
       },
       kOff},
      {"rendezvous open to others",
       [&](const TempDir& t) {
         FakeAutomation a(t / "A", rendezvous("q-a.sock", token));
         ::chmod(a.file.c_str(), 0604);
         return a.dir;
       },
       kBadPermissions},
      {"symlinked rendezvous",
       [&](const TempDir& t) {
         FakeAutomation a(t / "A", rendezvous("q-a.sock", token));
         fs::rename(a.file, t / "real.json");
         fs::create_symlink(t / "real.json", a.file);
         return a.dir;
       },
       kBadPermissions},
      {"rendezvous of 4097 bytes",
       [](const TempDir& t) { return FakeAutomation(t / "A", std::string(4097, ' ')).dir; },
       "Invalid connector discovery file"},
      {"rendezvous not JSON",
       [](const TempDir& t) { return FakeAutomation(t / "A", "{\"socket\"").dir; },
       "Invalid connector discovery file"},
      {"rendezvous an array", [](const TempDir& t) { return FakeAutomation(t / "A", "[]").dir; },
       "Invalid connector endpoint"},
      {"socket name with a slash",
       [&](const TempDir& t) {
         return FakeAutomation(t / "A", rendezvous("q-/a.sock", token)).dir;
       },
       "Invalid connector endpoint"},
      {"token of 73 bytes",
       [](const TempDir& t) {
         return FakeAutomation(t / "A", rendezvous("q-a.sock", std::string(73, 'k'))).dir;
       },
       "Invalid connector authorization"},
      {"socket gone",
       [&](const TempDir& t) { return FakeAutomation(t / "A", rendezvous("q-a.sock", token)).dir; },
       kOff},
  };
  for (const Case& c : cases) {
    TempDir temp;
    std::string dir = c.prepare(temp);
    Result result = request("tags", "{}",
                            {{"QUORVI_BRIDGE_DIR", dir}, {"QUORVI_TEST_OPENER_LOG", temp / "log"}});
    expect_refusal(result, c.message, c.what);
    EXPECT_FALSE(exists(temp / "log")) << c.what << ": the app was launched";
    EXPECT_LT(result.elapsed_ms, 3000) << c.what;
  }
}

TEST(Connector, RefusesAppFilesThatAreNotPrivate) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  ::chmod(app.socket_path().c_str(), 0666);
  expect_refusal(request("tags", "{}", {{"QUORVI_BRIDGE_DIR", app.dir()}}), kBadPermissions,
                 "socket open to all");
}

TEST(Connector, SocketPathTooLongForTheAddress) {
  TempDir temp;
  StandinApp app(temp / "A");
  ASSERT_TRUE(app.ready());
  // The app keeps listening on its socket; only the way to it grows too long.
  std::string longer = temp / std::string(120, 'd');
  fs::rename(app.dir(), longer);
  expect_refusal(request("tags", "{}", {{"QUORVI_BRIDGE_DIR", longer}}), kOff, "long path");
  fs::rename(longer, app.dir());
}

TEST(Connector, HomeDirectoryUnavailable) {
  expect_refusal(request("tags", "{}", {{"HOME", std::nullopt}}), "Home directory unavailable",
                 "no HOME");
}

// The group container is used when the primary directory is absent, and not otherwise.
TEST(Connector, FindsTheGroupContainerUnderHome) {
  TempDir home;
  StandinApp app(home / kGroup);
  ASSERT_TRUE(app.ready());
  Env env = {{"HOME", home.path()}, {"QUORVI_TEST_OPENER_STATUS", "signal"}};
  Result result = request("tags", "{}", env);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_LT(result.elapsed_ms, 3000);
}

#ifdef QUORVI_FAULT_SHIM
TEST(Connector, FailuresOnlyTheSystemCanCause) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  Env env = {{"QUORVI_BRIDGE_DIR", app.dir()},
             {"LD_PRELOAD", QUORVI_FAULT_SHIM},
             {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
  env.emplace_back("QUORVI_TEST_FAIL", "setsockopt");
  expect_refusal(request("tags", "{}", env), "Could not set connector deadline", "setsockopt");
  env.back().second = "open";
  expect_refusal(request("tags", "{}", env), "Connector unavailable", "open");
  env.back().second = "nothing";
  EXPECT_EQ(request("tags", "{}", env).status, 0);
}
#endif

// The test opener starts `command` detached and writes its pid to pid_file; this stops it.
class LaunchedApp {
 public:
  LaunchedApp(std::string pid_file, std::string dir)
      : pid_file_(std::move(pid_file)), dir_(std::move(dir)) {}
  ~LaunchedApp() { stop(); }
  bool started() const { return exists(pid_file_); }
  void stop() {
    std::string text = read_file(pid_file_);
    pid_t pid = static_cast<pid_t>(std::atoi(text.c_str()));
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    // Not our child, so it cannot be waited for: the app removes its rendezvous on SIGTERM.
    for (int waited = 0; exists(dir_ + "/connection.json") && waited < 5000; waited += 20)
      nap(20);
    if (exists(dir_ + "/connection.json")) ::kill(pid, SIGKILL);
    ::unlink(pid_file_.c_str());
  }

 private:
  std::string pid_file_;
  std::string dir_;
};

TEST(Connector, LaunchesTheAppFromItsBundleAndRetries) {
  for (const char* where : {kPrimary, kGroup}) {
    TempDir home;
    // The executable inside an app bundle names the bundle as the app to launch.
    std::string bundle = home / "Stand In.app";
    fs::create_directories(bundle + "/Contents/MacOS");
    std::string exe = bundle + "/Contents/MacOS/quorvi";
    fs::copy_file(quorvi_exe(), exe);
    std::string dir = home / where;
    std::string launch = shell_quote(standin_app_exe()) + " " + shell_quote(dir) +
                         " --start-delay-ms 300 --record " + shell_quote(home / "requests");
    LaunchedApp launched(home / "pid", dir);
    Env env = {{"HOME", home.path()},
               {"QUORVI_TEST_OPENER_LOG", home / "log"},
               {"QUORVI_TEST_OPENER_LAUNCH", launch},
               {"QUORVI_TEST_OPENER_LAUNCH_PID", home / "pid"}};
    Result result = request("tags", "{}", env, exe);
    EXPECT_TRUE(launched.started()) << where;
    EXPECT_EQ(result.status, 0) << where << ": " << result.err;
    EXPECT_EQ(read_file(home / "log"), "-g -j -a " + bundle + " --args --quorvi-background\n")
        << where;
    EXPECT_LT(result.elapsed_ms, 4000) << where;
    EXPECT_TRUE(read_file(home / "requests").starts_with(R"({"arguments":{},"operation":"tags",)"))
        << where;
    launched.stop();
  }
}

// Slow: these wait out the retries or the socket deadlines.

TEST(ConnectorSlow, GivesUpAfterFiftyAttemptsWithTheLastMessage) {
  TempDir home;
  Env env = {{"HOME", home.path()},
             {"QUORVI_TEST_OPENER_LOG", home / "log"},
             {"QUORVI_TEST_OPENER_STATUS", "signal"}};  // the opener's fate changes nothing
  Result result = request("tags", "{}", env);
  expect_refusal(result, kOff, "no app");
  EXPECT_EQ(read_file(home / "log"),
            "-g -j -a /Applications/Quorvi.app --args --quorvi-background\n");
  EXPECT_GE(result.elapsed_ms, 5000);
  EXPECT_LT(result.elapsed_ms, 10000);

  // QUORVI_APP_PATH wins, even empty. With the primary directory absent, the group container's
  // own fault is what the user sees.
  env.emplace_back("QUORVI_APP_PATH", "");
  fs::create_directories(home / kGroup);
  ::chmod((home / kGroup).c_str(), 0755);
  ::unlink((home / "log").c_str());
  result = request("tags", "{}", env);
  expect_refusal(result, kBadPermissions, "open group container");
  EXPECT_EQ(read_file(home / "log"), "-g -j -a  --args --quorvi-background\n");
}

TEST(ConnectorSlow, SendDeadlineWhenTheAppNeverReads) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "no-read"});
  Env env = limit_scope(app.token(), 0);
  env.emplace_back("QUORVI_BRIDGE_DIR", app.dir());
  Result result = request("tags", "{}", env);
  expect_refusal(result, kSendFailed, "no-read");
  EXPECT_GE(result.elapsed_ms, 4900);
}

TEST(ConnectorSlow, ReceiveDeadlineWhenTheAppNeverAnswers) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "hang"});
  Result result = request("tags", "{}", {{"QUORVI_BRIDGE_DIR", app.dir()}});
  expect_refusal(result, kNoResponse, "hang");
  EXPECT_GE(result.elapsed_ms, 14900);
}

}  // namespace
}  // namespace quorvi::test
