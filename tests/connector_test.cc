// `quorvi request` against the stand-in app: the one framed request on the wire, tag scopes,
// the size limit, the answer's faults, the launch of the app with its retries, and each socket
// deadline once. Discovery and answer bodies are unit tests (src/cli/mcp/*_test.cc).
#include <gtest/gtest.h>
#include <signal.h>

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
constexpr size_t kLimit = 1048576;

// What a refusal shows: its message, or what came instead.
std::string refusal(const Result& result) {
  if (result.status == 1 && result.out.empty()) return result.err;
  return "status " + std::to_string(result.status) + ": " + result.out + result.err;
}

// The body of `of_size` without its token and the bytes of its string.
constexpr char kAround[] =
    R"({"arguments":{"a":""},"operation":"tags","scope":{"excludeTags":[],"onlyTags":[]},)"
    R"("token":""})";

// `request tags -` whose body is `extra` bytes over exactly 1 MiB: the arguments come on
// standard input, as no single word or variable can be that long.
Command of_size(const StandinApp& app, size_t extra) {
  std::string bytes(kLimit + extra - (sizeof kAround - 1) - app.token().size(), 'x');
  return {.args = {"request", "tags", "-"},
          .env = {{"QUORVI_BRIDGE_DIR", app.dir()}},
          .input = R"({"a":")" + bytes + "\"}"};
}

// The request that the stand-in recorded as its `count`th, once it has come.
std::string recorded(const StandinApp& app, size_t count) {
  std::vector<std::string> bodies = app.wait_recorded(count);
  return bodies.size() < count ? "<" + std::to_string(bodies.size()) + " recorded>"
                               : bodies[count - 1];
}

// The body on the wire: the arguments, the scope normalized, and the app's token.
TEST(Connector, SendsTheScopeNormalized) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  ASSERT_TRUE(app.ready());
  Env scope{{"QUORVI_ONLY_TAGS", "Work, #Personal"}, {"QUORVI_EXCLUDE_TAGS", "a;b"}};
  Result searched = request(app.dir(), "search", R"({"query":"x"})", scope);
  EXPECT_EQ(searched.status, 0) << searched.err;
  EXPECT_EQ(recorded(app, 1),
            R"({"arguments":{"query":"x"},"operation":"search","scope":{"excludeTags":["a;b"],)"
            R"("onlyTags":["work","personal"]},"token":")" +
                app.token() + "\"}");
}

// The answer is one compact line; notes outside the scope stay hidden (the stand-in honours
// the scope, so scope tests mean something).
TEST(Connector, AnswersOneLineAndScopesHideNotes) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  Result created = request(app.dir(), "create", R"({"text":"scoped","tags":"work"})");
  EXPECT_EQ(created.status, 0) << created.err;
  EXPECT_NE(created.out.find(R"("id":"note-1")"), std::string::npos) << created.out;
  EXPECT_EQ(created.out.find('\n'), created.out.size() - 1) << created.out;
  const std::string query = R"({"query":"scoped"})";
  const struct {
    const char* scope;
    Env env;
    bool found;
  } rows[] = {
      {"in scope", {{"QUORVI_ONLY_TAGS", "Work, #Personal"}, {"QUORVI_EXCLUDE_TAGS", "a;b"}}, true},
      {"excluded", {{"QUORVI_EXCLUDE_TAGS", "WORK"}}, false},
      {"not among the only tags", {{"QUORVI_ONLY_TAGS", "home"}}, false},
  };
  for (const auto& row : rows) {
    Result searched = request(app.dir(), "search", query, row.env);
    EXPECT_EQ(searched.out.find("scoped") != std::string::npos, row.found) << row.scope;
  }
}

// A body of exactly 1 MiB is sent whole; one byte more is refused before anything is sent.
TEST(Connector, SendsUpToTheLimitAndNothingOver) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  ASSERT_TRUE(app.ready());
  run(of_size(app, 0));
  EXPECT_EQ(recorded(app, 1).size(), kLimit);
  EXPECT_EQ(refusal(run(of_size(app, 1))), "Request exceeds the 1 MB connector limit\n");
  EXPECT_EQ(recorded(app, 2), "<no request>");
}

// A token that is not the app's: the app's own refusal is shown.
TEST(Connector, ShowsTheAppsRefusalOfAStaleToken) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  ASSERT_TRUE(app.ready());
  std::string file = read_file(app.dir() + "/connection.json");
  file.replace(file.find(app.token()), app.token().size(), std::string(72, 'w'));
  write_file(app.dir() + "/connection.json", file);
  EXPECT_EQ(refusal(request(app.dir())), "Unauthorized\n");
}

// The stand-in's framing faults, and what the user sees: a message, or the answer's first bytes.
TEST(Connector, AnswerFaults) {
  const std::pair<const char*, std::string> rows[] = {
      {"close", kNoResponse},
      {"partial", "Incomplete connector response\n"},
      {"zero-length", "Invalid connector response size\n"},
      {"oversize", "Invalid connector response size\n"},
      {"trailing", R"({"tags":)"},
      {"max-size", R"({"tags":)"},
  };
  for (const auto& [fault, shown] : rows) {
    TempDir temp;
    StandinApp app(temp / "Automation", {"--fault", fault});
    ASSERT_TRUE(app.ready()) << fault;
    Result result = request(app.dir());
    EXPECT_EQ((result.out + result.err).substr(0, shown.size()), shown) << fault;
    EXPECT_EQ(result.status, result.out.empty() ? 1 : 0) << fault;
  }
}

// The opener launches a stand-in that publishes itself after 1.5 seconds, well past the first
// retries. The app to launch is the bundle around the executable. An invalid scope launches
// nothing.
TEST(Connector, LaunchesTheAppFromItsBundleAndRetries) {
  TempDir home;
  std::string bundle = home / "Stand In.app", exe = bundle + "/Contents/MacOS/quorvi";
  std::filesystem::create_directories(bundle + "/Contents/MacOS");
  std::filesystem::copy_file(quorvi_exe(), exe);
  std::string dir = home / "Library/Application Support/Quorvi/Automation";
  std::string launch = "'" + standin_app_exe() + "' '" + dir +
                       "' --start-delay-ms 1500 --record '" + home / "requests" + "'";
  Env env{{"HOME", home.path()},
          {"QUORVI_TEST_OPENER_LOG", home / "log"},
          {"QUORVI_TEST_OPENER_LAUNCH", launch},
          {"QUORVI_TEST_OPENER_LAUNCH_PID", home / "pid"}};
  // A scope that cannot be used is refused before any launch.
  Env bad_scope = env;
  bad_scope.emplace_back("QUORVI_ONLY_TAGS", "work,\xFF");
  EXPECT_EQ(refusal(request("", "tags", "{}", bad_scope, exe)), "Invalid QUORVI_ONLY_TAGS\n");
  EXPECT_FALSE(std::filesystem::exists(home / "log"));
  Result result = request("", "tags", "{}", env, exe);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(home / "log"), "-g -j -a " + bundle + " --args --quorvi-background\n");
  const std::string tags_request = R"({"arguments":{},"operation":"tags",)";
  EXPECT_EQ(read_file(home / "requests").substr(0, tags_request.size()), tags_request);
  // Not our child, so it cannot be waited for: the app removes its rendezvous on SIGTERM.
  if (pid_t pid = std::atoi(read_file(home / "pid").c_str()); pid > 0) ::kill(pid, SIGTERM);
  wait_until([&] { return !std::filesystem::exists(dir + "/connection.json"); }, 5000);
}

// Slow: each waits out one deadline, once.

TEST(ConnectorSlow, GivesUpAfterFiveSecondsOfRetries) {
  TempDir home;
  Result result = request("", "tags", "{}",
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
  Result result = run(of_size(app, 0));
  EXPECT_EQ(refusal(result), "Connector request failed; check the note before retrying changes\n");
  EXPECT_GE(result.elapsed_ms, 4900);
}

TEST(ConnectorSlow, ReceiveDeadlineWhenTheAppNeverAnswers) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "hang"});
  Result result = request(app.dir());
  EXPECT_EQ(refusal(result), kNoResponse);
  EXPECT_GE(result.elapsed_ms, 14900);
}

}  // namespace
}  // namespace quorvi::test
