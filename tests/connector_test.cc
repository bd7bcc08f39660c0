// `quorvi request` against the stand-in app: the one framed request, the answer and its faults,
// tag scopes, what needs real files, the launch of the app with its retries, and each socket
// deadline once. Discovery's own rows are unit tests (src/cli/mcp/discovery_test.cc).
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

constexpr char kOff[] = "Open Quorvi and enable Desktop connector in Settings\n";
constexpr char kNoResponse[] =
    "Connector response failed; check the note before retrying changes\n";
constexpr char kNoScope[] = R"({"excludeTags":[],"onlyTags":[]})";
constexpr size_t kLimit = 1048576;

Result request(const StandinApp* app, const std::string& operation, const std::string& arguments,
               Env env = {}, const std::string& program = "") {
  if (app) env.emplace_back("QUORVI_BRIDGE_DIR", app->dir());
  return run({.args = {"request", operation, arguments}, .env = env, .program = program});
}

// What a refusal shows: its message, or what came instead.
std::string refusal(const Result& result) {
  if (result.status == 1 && result.out.empty()) return result.err;
  return "status " + std::to_string(result.status) + ": " + result.out + result.err;
}

std::string body(const std::string& operation, const std::string& arguments,
                 const std::string& scope, const std::string& token) {
  return R"({"arguments":)" + arguments + R"(,"operation":")" + operation + R"(","scope":)" +
         scope + R"(,"token":")" + token + "\"}";
}

TEST(Connector, RequestsAndAnswers) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  ASSERT_TRUE(app.ready());
  Result created = request(&app, "create", R"({"text":"# Hello\nworld","tags":"work"})");
  EXPECT_EQ(created.status, 0) << created.err;
  EXPECT_NE(created.out.find(R"("id":"note-1")"), std::string::npos) << created.out;
  EXPECT_EQ(created.out.find('\n'), created.out.size() - 1);  // one compact line
  // The arguments travel as parsed: -0 stays a double, 2.50 is written shortest.
  EXPECT_EQ(refusal(request(&app, "-h", R"({"z":[1,-0,2.50,"\u00e9"],"a":{"b":null}})")),
            "Unknown operation: -h\n");
  EXPECT_EQ(app.wait_recorded(2).at(1),
            body("-h", R"({"a":{"b":null},"z":[1,-0.0,2.5,"é"]})", kNoScope, app.token()));
  // The stand-in refuses a token that is not its own (so token tests mean something).
  std::string file = read_file(app.dir() + "/connection.json");
  file.replace(file.find(app.token()), app.token().size(), std::string(72, 'w'));
  write_file(app.dir() + "/connection.json", file);
  EXPECT_EQ(refusal(request(&app, "tags", "{}")), "Unauthorized\n");
}

// quorvi sends the scope normalized, and the stand-in honours it (so scope tests mean something).
TEST(Connector, TagScopesTravelNormalizedAndHideNotes) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  ASSERT_TRUE(app.ready());
  ASSERT_EQ(request(&app, "create", R"({"text":"scoped","tags":"work"})").status, 0);
  const std::string query = R"({"query":"scoped"})";
  EXPECT_NE(request(&app, "search", query,
                    {{"QUORVI_ONLY_TAGS", "Work, #Personal\n##Later##,,"},
                     {"QUORVI_EXCLUDE_TAGS", " \xC3\x89T\xC3\x89\r\n# #,a;b"}})
                .out.find("scoped"),
            std::string::npos);
  EXPECT_EQ(request(&app, "search", query, {{"QUORVI_EXCLUDE_TAGS", "WORK"}}).out.find("scoped"),
            std::string::npos);
  EXPECT_EQ(request(&app, "search", query, {{"QUORVI_ONLY_TAGS", "home"}}).out.find("scoped"),
            std::string::npos);
  // A scope that cannot be read is refused before connecting: the app sees no connection.
  EXPECT_EQ(refusal(request(&app, "tags", "{}", {{"QUORVI_ONLY_TAGS", "work,\xFF"}})),
            "Invalid QUORVI_ONLY_TAGS\n");
  EXPECT_EQ(refusal(request(&app, "tags", "{}", {{"QUORVI_EXCLUDE_TAGS", "\xC0\x80"}})),
            "Invalid QUORVI_EXCLUDE_TAGS\n");
  auto recorded = app.wait_recorded(4);
  ASSERT_EQ(recorded.size(), 4u);
  EXPECT_EQ(
      recorded[1],
      body("search", query,
           R"({"excludeTags":["été","a;b"],"onlyTags":["work","personal","later"]})", app.token()));
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
  EXPECT_EQ(request(&app, "tags", "{}", scope_for_size(app.token(), 0)).status, 0);
  EXPECT_EQ(refusal(request(&app, "tags", "{}", scope_for_size(app.token(), 1))),
            "Request exceeds the 1 MB connector limit\n");
  auto recorded = app.wait_recorded(2);
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].size(), kLimit);
  EXPECT_EQ(recorded[1], "<no request>");
}

// The stand-in's fault modes, and what the user sees: a message, or the answer's first bytes.
TEST(Connector, AnswerFaults) {
  const std::pair<const char*, std::string> rows[] = {
      {"close", kNoResponse},
      {"partial", "Incomplete connector response\n"},
      {"zero-length", "Invalid connector response size\n"},
      {"oversize", "Invalid connector response size\n"},
      {"not-json", "Invalid connector response\n"},
      {"invalid-utf8", "Invalid connector response\n"},
      {"error-null", "42\n"},
      {"trailing", R"({"tags":)"},
      {"max-size", R"({"tags":)"},
  };
  for (const auto& [fault, shown] : rows) {
    TempDir temp;
    StandinApp app(temp / "Automation", {"--fault", fault});
    ASSERT_TRUE(app.ready()) << fault;
    Result result = request(&app, "tags", "{}");
    EXPECT_TRUE((result.out + result.err).starts_with(shown)) << fault << ": " << refusal(result);
    EXPECT_EQ(result.status, result.out.empty() ? 1 : 0) << fault;
  }
}

// A socket opened to others, and a directory that is not there: no launch with
// QUORVI_BRIDGE_DIR set.
TEST(Connector, DiscoveryOnRealFiles) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  ASSERT_EQ(::chmod(app.socket_path().c_str(), 0666), 0);
  EXPECT_EQ(refusal(request(&app, "tags", "{}")), "Connector endpoint permissions are invalid\n");
  Result absent =
      request(nullptr, "tags", "{}",
              {{"QUORVI_BRIDGE_DIR", temp / "none"}, {"QUORVI_TEST_OPENER_LOG", temp / "opened"}});
  EXPECT_EQ(refusal(absent), kOff);
  EXPECT_EQ(read_file(temp / "opened"), "");
  EXPECT_LT(absent.elapsed_ms, 3000);
}

// The opener launches a stand-in that publishes itself after 1.5 seconds, well past the first
// retries. The app to launch is the bundle around the executable.
TEST(Connector, LaunchesTheAppFromItsBundleAndRetries) {
  TempDir home;
  std::string bundle = home / "Stand In.app", exe = bundle + "/Contents/MacOS/quorvi";
  std::filesystem::create_directories(bundle + "/Contents/MacOS");
  std::filesystem::copy_file(quorvi_exe(), exe);
  std::string dir = home / "Library/Application Support/Quorvi/Automation";
  std::string launch = "'" + standin_app_exe() + "' '" + dir +
                       "' --start-delay-ms 1500 --record '" + home / "requests" + "'";
  Result result = request(nullptr, "tags", "{}",
                          {{"HOME", home.path()},
                           {"QUORVI_TEST_OPENER_LOG", home / "log"},
                           {"QUORVI_TEST_OPENER_LAUNCH", launch},
                           {"QUORVI_TEST_OPENER_LAUNCH_PID", home / "pid"}},
                          exe);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(home / "log"), "-g -j -a " + bundle + " --args --quorvi-background\n");
  EXPECT_TRUE(read_file(home / "requests").starts_with(R"({"arguments":{},"operation":"tags",)"));
  // Not our child, so it cannot be waited for: the app removes its rendezvous on SIGTERM.
  if (pid_t pid = std::atoi(read_file(home / "pid").c_str()); pid > 0) ::kill(pid, SIGTERM);
  for (int waited = 0; std::filesystem::exists(dir + "/connection.json") && waited < 500; ++waited)
    ::usleep(10000);
}

// Slow: each waits out one deadline, once.

TEST(ConnectorSlow, GivesUpAfterFiveSecondsOfRetries) {
  TempDir home;
  Result result = request(nullptr, "tags", "{}",
                          {{"HOME", home.path()},
                           {"QUORVI_TEST_OPENER_LOG", home / "log"},
                           {"QUORVI_TEST_OPENER_STATUS", "signal"},  // its fate changes nothing
                           {"QUORVI_APP_PATH", "/Chosen.app"}});
  EXPECT_EQ(refusal(result), kOff);
  EXPECT_EQ(read_file(home / "log"), "-g -j -a /Chosen.app --args --quorvi-background\n");
  EXPECT_GE(result.elapsed_ms, 5000);
  EXPECT_LT(result.elapsed_ms, 10000);
}

TEST(ConnectorSlow, SendDeadlineWhenTheAppNeverReads) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "no-read"});
  Result result = request(&app, "tags", "{}", scope_for_size(app.token(), 0));
  EXPECT_EQ(refusal(result), "Connector request failed; check the note before retrying changes\n");
  EXPECT_GE(result.elapsed_ms, 4900);
}

TEST(ConnectorSlow, ReceiveDeadlineWhenTheAppNeverAnswers) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "hang"});
  Result result = request(&app, "tags", "{}");
  EXPECT_EQ(refusal(result), kNoResponse);
  EXPECT_GE(result.elapsed_ms, 14900);
}

}  // namespace
}  // namespace quorvi::test
