// `quorvi request` against the stand-in app: the one framed request on the wire, tag scopes,
// the size limit, the answer's faults, the launch of the app with its retries, and each socket
// deadline once. Discovery and answer bodies are unit tests (src/cli/mcp/*_test.cc).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

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

// The body on the wire: the arguments, the scope normalized, and the app's token. Notes outside
// the scope stay hidden: the stand-in honours the scope, so scope tests mean something.
TEST(Connector, SendsTheScopeAndItHidesNotes) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  Result created = request(app.dir(), "create", R"({"text":"scoped","tags":"work"})");
  EXPECT_EQ(created.status, 0) << created.err;
  const std::tuple<const char*, Env, bool> rows[] = {
      {"in scope", {{"QUORVI_ONLY_TAGS", "Work, #Personal"}, {"QUORVI_EXCLUDE_TAGS", "a;b"}}, true},
      {"excluded", {{"QUORVI_EXCLUDE_TAGS", "WORK"}}, false},
  };
  for (const auto& [scope, env, found] : rows) {
    Result searched = request(app.dir(), "search", R"({"query":"scoped"})", env);
    EXPECT_EQ(searched.out.find("scoped") != std::string::npos, found) << scope;
  }
  EXPECT_EQ(
      app.recorded(2),
      R"({"arguments":{"query":"scoped"},"operation":"search","scope":{"excludeTags":["a;b"],)"
      R"("onlyTags":["work","personal"]},"token":")" +
          app.token() + "\"}");
}

// A body of exactly 1 MiB is sent whole; one byte more is refused before anything is sent.
TEST(Connector, SendsUpToTheLimitAndNothingOver) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  run(of_size(app, 0));
  EXPECT_EQ(app.recorded(1).size(), kLimit);
  EXPECT_EQ(refusal(run(of_size(app, 1))), "Request exceeds the 1 MB connector limit\n");
  EXPECT_EQ(app.recorded(2), "<no request>");
}

// A token that is not the app's: the app's own refusal is shown.
TEST(Connector, ShowsTheAppsRefusalOfAStaleToken) {
  TempDir temp;
  StandinApp app(temp / "Automation");
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
    Result result = request(app.dir());
    EXPECT_EQ((result.out + result.err).substr(0, shown.size()), shown) << fault;
    EXPECT_EQ(result.status, result.out.empty() ? 1 : 0) << fault;
  }
}

// The opener launches a stand-in that publishes itself after 1.5 seconds, well past the first
// retries. The app to launch is the bundle around the executable, whose path is longer than a
// first guess at its length.
TEST(Connector, LaunchesTheAppFromItsBundleAndRetries) {
  TempDir home;
  std::string deep = home / std::string(150, 'a') + "/" + std::string(150, 'b');
  std::string bundle = deep + "/Stand In.app", exe = bundle + "/Contents/MacOS/quorvi";
  std::filesystem::create_directories(bundle + "/Contents/MacOS");
  std::filesystem::copy_file(quorvi_exe(), exe);
  std::string dir = home / "Library/Application Support/Quorvi/Automation";
  std::string launch = "'" + standin_app_exe() + "' '" + dir +
                       "' --start-delay-ms 1500 --pid-file '" + home / "pid" + "'";
  Env env{{"HOME", home.path()},
          {"QUORVI_TEST_OPENER_LOG", home / "log"},
          {"QUORVI_TEST_OPENER_LAUNCH", launch}};
  Result result = request("", "tags", "{}", env, exe);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(home / "log"), "-g -j -a " + bundle + " --args --quorvi-background\n");
  // Not our child, so it cannot be waited for: the app removes its rendezvous on SIGTERM.
  if (pid_t pid = std::atoi(read_file(home / "pid").c_str()); pid > 0) ::kill(pid, SIGTERM);
  wait_until([&] { return !std::filesystem::exists(dir + "/connection.json"); }, 5000);
}

// Slow: each waits out one deadline, once.

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
