// `quorvi request` against the stand-in app: the one framed request, the answer and its faults,
// tag scopes, the refusals that need real files, the launch of the app with its retries, and the
// socket deadlines. Discovery's own rows are unit tests (src/cli/mcp/discovery_test.cc).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

namespace fs = std::filesystem;

constexpr char kOff[] = "Open Quorvi and enable Desktop connector in Settings";
constexpr char kBadPermissions[] = "Connector endpoint permissions are invalid";
constexpr char kNoResponse[] = "Connector response failed; check the note before retrying changes";
constexpr size_t kLimit = 1048576;

Result request(const std::string& operation, const std::string& arguments, Env env,
               const std::string& program = "") {
  return run(
      {.args = {"request", operation, arguments}, .env = std::move(env), .program = program});
}

Result request_at(const StandinApp& app, const std::string& operation, const std::string& arguments,
                  Env env = {}) {
  env.emplace_back("QUORVI_BRIDGE_DIR", app.dir());
  return request(operation, arguments, std::move(env));
}

#define EXPECT_REFUSED(result, message)                  \
  do {                                                   \
    Result refused = (result);                           \
    EXPECT_EQ(refused.status, 1);                        \
    EXPECT_EQ(refused.out, "");                          \
    EXPECT_EQ(refused.err, std::string(message) + "\n"); \
  } while (false)

std::string body(const std::string& operation, const std::string& arguments,
                 const std::string& scope, const std::string& token) {
  return R"({"arguments":)" + arguments + R"(,"operation":")" + operation + R"(","scope":)" +
         scope + R"(,"token":")" + token + "\"}";
}
constexpr char kNoScope[] = R"({"excludeTags":[],"onlyTags":[]})";

TEST(Connector, OneExactFramePerRequestAndTheAnswerPrintedCompact) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  ASSERT_TRUE(app.ready());
  Result created = request_at(app, "create", R"({"text":"# Hello\nworld","tags":"work"})");
  EXPECT_EQ(created.status, 0) << created.err;
  EXPECT_NE(created.out.find(R"("id":"note-1")"), std::string::npos) << created.out;
  EXPECT_EQ(created.out.find('\n'), created.out.size() - 1);
  // The arguments travel as parsed: -0 stays a double, 2.50 is written shortest.
  EXPECT_REFUSED(request_at(app, "-h", R"({"z":[1,-0,2.50,"\u00e9"],"a":{"b":null}})"),
                 "Unknown operation: -h");
  EXPECT_REFUSED(request_at(app, "read", R"({"id":"none"})"), "Note not found");
  auto recorded = app.wait_recorded(3);
  ASSERT_EQ(recorded.size(), 3u);
  EXPECT_EQ(recorded[1],
            body("-h", R"({"a":{"b":null},"z":[1,-0.0,2.5,"é"]})", kNoScope, app.token()));
}

// quorvi sends the scope normalized, and the stand-in honours it (so scope tests mean something).
TEST(Connector, TagScopesTravelNormalizedAndHideNotes) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  ASSERT_TRUE(app.ready());
  ASSERT_EQ(request_at(app, "create", R"({"text":"scoped","tags":"work"})").status, 0);
  Result only = request_at(app, "search", R"({"query":"scoped"})",
                           {{"QUORVI_ONLY_TAGS", "Work, #Personal\n##Later##,,"},
                            {"QUORVI_EXCLUDE_TAGS", " \xC3\x89T\xC3\x89\r\n# #,a;b"}});
  EXPECT_NE(only.out.find("scoped"), std::string::npos) << only.out << only.err;
  Result excluded =
      request_at(app, "search", R"({"query":"scoped"})", {{"QUORVI_EXCLUDE_TAGS", "WORK"}});
  EXPECT_EQ(excluded.out.find("scoped"), std::string::npos) << excluded.out;
  Result elsewhere =
      request_at(app, "search", R"({"query":"scoped"})", {{"QUORVI_ONLY_TAGS", "home"}});
  EXPECT_EQ(elsewhere.out.find("scoped"), std::string::npos) << elsewhere.out;
  // A scope that cannot be read is refused after connecting and before sending anything.
  EXPECT_REFUSED(request_at(app, "tags", "{}", {{"QUORVI_ONLY_TAGS", "work,\xFF"}}),
                 "Invalid QUORVI_ONLY_TAGS");
  EXPECT_REFUSED(request_at(app, "tags", "{}", {{"QUORVI_EXCLUDE_TAGS", "\xC0\x80"}}),
                 "Invalid QUORVI_EXCLUDE_TAGS");
  auto recorded = app.wait_recorded(6);
  ASSERT_EQ(recorded.size(), 6u);
  EXPECT_EQ(
      recorded[1],
      body("search", R"({"query":"scoped"})",
           R"({"excludeTags":["été","a;b"],"onlyTags":["work","personal","later"]})", app.token()));
  EXPECT_EQ(recorded[4], "<no request>");
  EXPECT_EQ(recorded[5], "<no request>");
}

// The stand-in refuses a token that is not its own (so token tests mean something).
TEST(Connector, WrongTokenIsRefusedByTheApp) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  std::string file = read_file(app.dir() + "/connection.json");
  file.replace(file.find(app.token()), app.token().size(), std::string(72, 'w'));
  write_file(app.dir() + "/connection.json", file);
  EXPECT_REFUSED(request_at(app, "tags", "{}"), "Unauthorized");
}

// Tag variables hold control characters that the body escapes sixfold, so a body of any size
// fits in the environment. `extra` bytes are added to a body that would be exactly 1 MiB.
Env scope_for_size(const std::string& token, size_t extra) {
  size_t base = body("tags", "{}", R"({"excludeTags":[""],"onlyTags":[""]})", token).size();
  size_t missing = kLimit + extra - base, first = 120000;  // escaped: 720,000 bytes
  std::string exclude((missing - 6 * first) / 6, '\x01');
  exclude.append((missing - 6 * first) % 6, 'a');
  return {{"QUORVI_ONLY_TAGS", std::string(first, '\x01')}, {"QUORVI_EXCLUDE_TAGS", exclude}};
}

TEST(Connector, RequestLimitIsOneMebibyte) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  ASSERT_TRUE(app.ready());
  EXPECT_EQ(request_at(app, "tags", "{}", scope_for_size(app.token(), 0)).status, 0);
  EXPECT_REFUSED(request_at(app, "tags", "{}", scope_for_size(app.token(), 1)),
                 "Request exceeds the 1 MB connector limit");
  auto recorded = app.wait_recorded(2);
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].size(), kLimit);
  EXPECT_EQ(recorded[1], "<no request>");
}

TEST(Connector, AnswerFaults) {
  struct Row {
    std::vector<std::string> options;
    const char* message;   // nullptr when the call succeeds
    std::string out = "";  // "" for the stand-in's ordinary answer
  } rows[] = {
      {{"--fault", "close"}, kNoResponse},
      {{"--fault", "partial"}, "Incomplete connector response"},
      {{"--fault", "zero-length"}, "Invalid connector response size"},
      {{"--fault", "oversize"}, "Invalid connector response size"},
      {{"--fault", "not-json"}, "Invalid connector response"},
      {{"--fault", "invalid-utf8"}, "Invalid connector response"},
      {{"--fault", "error-null"}, nullptr, "42\n"},
      {{"--fault", "trailing"}, nullptr},
      {{"--fault", "max-size"}, nullptr},
  };
  for (const Row& row : rows) {
    TempDir temp;
    StandinApp app(temp / "Automation", row.options);
    ASSERT_TRUE(app.ready()) << row.options[1];
    Result result = request_at(app, "tags", "{}");
    EXPECT_EQ(result.status, row.message ? 1 : 0) << row.options[1];
    EXPECT_EQ(result.err, row.message ? row.message + std::string("\n") : "") << row.options[1];
    if (row.message || !row.out.empty()) {
      EXPECT_EQ(result.out, row.out) << row.options[1];
    } else {
      EXPECT_TRUE(result.out.starts_with(R"({"tags":)")) << row.options[1] << result.out;
    }
  }
}

// What needs real files and a real app: a socket opened to others, a directory that is not
// there (no launch with QUORVI_BRIDGE_DIR set), no HOME, the group container under HOME.
TEST(Connector, DiscoveryOnRealFiles) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  ASSERT_EQ(::chmod(app.socket_path().c_str(), 0666), 0);
  EXPECT_REFUSED(request_at(app, "tags", "{}"), kBadPermissions);

  Result absent =
      request("tags", "{}",
              {{"QUORVI_BRIDGE_DIR", temp / "none"}, {"QUORVI_TEST_OPENER_LOG", temp / "opened"}});
  EXPECT_REFUSED(absent, kOff);
  EXPECT_EQ(read_file(temp / "opened"), "");
  EXPECT_LT(absent.elapsed_ms, 3000);
  EXPECT_REFUSED(request("tags", "{}", {{"HOME", std::nullopt}}), "Home directory unavailable");

  TempDir home;
  StandinApp group(home / "Library/Group Containers/9QVRK2N4TZ.group.quorvi/Automation");
  ASSERT_TRUE(group.ready());
  EXPECT_EQ(request("tags", "{}", {{"HOME", home.path()}}).status, 0);
}

std::string shell_quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The opener launches a stand-in that publishes itself after 1.5 seconds, well past the first
// retries; quorvi finds it and sends its request. The app to launch is the bundle around the
// executable.
TEST(Connector, LaunchesTheAppFromItsBundleAndRetries) {
  TempDir home;
  std::string bundle = home / "Stand In.app";
  fs::create_directories(bundle + "/Contents/MacOS");
  std::string exe = bundle + "/Contents/MacOS/quorvi";
  fs::copy_file(quorvi_exe(), exe);
  std::string dir = home / "Library/Application Support/Quorvi/Automation";
  Result result =
      request("tags", "{}",
              {{"HOME", home.path()},
               {"QUORVI_TEST_OPENER_LOG", home / "log"},
               {"QUORVI_TEST_OPENER_LAUNCH",
                shell_quote(standin_app_exe()) + " " + shell_quote(dir) +
                    " --start-delay-ms 1500 --record " + shell_quote(home / "requests")},
               {"QUORVI_TEST_OPENER_LAUNCH_PID", home / "pid"}},
              exe);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(home / "log"), "-g -j -a " + bundle + " --args --quorvi-background\n");
  EXPECT_TRUE(read_file(home / "requests").starts_with(R"({"arguments":{},"operation":"tags",)"));
  // Not our child, so it cannot be waited for: the app removes its rendezvous on SIGTERM.
  pid_t pid = static_cast<pid_t>(std::atoi(read_file(home / "pid").c_str()));
  if (pid > 0) ::kill(pid, SIGTERM);
  for (int waited = 0; fs::exists(dir + "/connection.json") && waited < 5000; waited += 10)
    ::usleep(10000);
}

// Slow: each waits out one deadline, once.

TEST(ConnectorSlow, GivesUpAfterFiveSecondsOfRetries) {
  TempDir home;
  Env env = {{"HOME", home.path()},
             {"QUORVI_TEST_OPENER_LOG", home / "log"},
             {"QUORVI_TEST_OPENER_STATUS", "signal"},  // the opener's fate changes nothing
             {"QUORVI_APP_PATH", "/Chosen.app"}};
  Result result = request("tags", "{}", env);
  EXPECT_REFUSED(result, kOff);
  EXPECT_EQ(read_file(home / "log"), "-g -j -a /Chosen.app --args --quorvi-background\n");
  EXPECT_GE(result.elapsed_ms, 5000);
  EXPECT_LT(result.elapsed_ms, 10000);
}

TEST(ConnectorSlow, SendDeadlineWhenTheAppNeverReads) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "no-read"});
  Result result = request_at(app, "tags", "{}", scope_for_size(app.token(), 0));
  EXPECT_REFUSED(result, "Connector request failed; check the note before retrying changes");
  EXPECT_GE(result.elapsed_ms, 4900);
}

TEST(ConnectorSlow, ReceiveDeadlineWhenTheAppNeverAnswers) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "hang"});
  Result result = request_at(app, "tags", "{}");
  EXPECT_REFUSED(result, kNoResponse);
  EXPECT_GE(result.elapsed_ms, 14900);
}

}  // namespace
}  // namespace quorvi::test
