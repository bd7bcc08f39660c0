// `quorvi mcp-server` tool calls against a stand-in app that misbehaves: every fault becomes a
// tool result flagged as an error (or a served answer), on time, and the session goes on.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/mcp/json.h"
#include "e2e.h"
#include "hostile_child.h"
#include "standin.h"

namespace quorvi::test {
namespace {

using mcp::Json;
using Clock = std::chrono::steady_clock;

constexpr char kSendFailed[] = "Connector request failed; check the note before retrying changes";
constexpr char kNoResponse[] = "Connector response failed; check the note before retrying changes";

const std::string kHandshake =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25",)"
    R"("capabilities":{},"clientInfo":{"name":"hostile"}}})"
    "\n"
    R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
    "\n";
const std::string kPing = R"({"jsonrpc":"2.0","id":"p","method":"ping"})"
                          "\n";
const std::string kPingAnswer = R"({"id":"p","jsonrpc":"2.0","result":{}})";

std::string call_line(const std::string& tool, const Json& arguments) {
  Json call = {{"jsonrpc", "2.0"},
               {"id", 1},
               {"method", "tools/call"},
               {"params", {{"name", tool}, {"arguments", arguments}}}};
  return mcp::write(call) + "\n";
}

std::string failure_answer(const std::string& message) {
  return mcp::write(Json{
      {"id", 1},
      {"jsonrpc", "2.0"},
      {"result",
       {{"content", Json::array({{{"type", "text"}, {"text", message}}})}, {"isError", true}}}});
}

struct Timed {
  std::optional<std::string> answer;
  int elapsed_ms = 0;
};

// One session: handshake, one tool call, then a ping that must still be answered.
Timed one_call(const StandinApp& app, const TempDir& temp, const std::string& line) {
  Child server({"mcp-server"}, clean_env({{"QUORVI_BRIDGE_DIR", app.dir()}}), temp / "err");
  Timed timed;
  if (!server.send(kHandshake) || !server.line()) return timed;
  auto start = Clock::now();
  if (!server.send(line, 30000)) return timed;
  timed.answer = server.line(40000);
  timed.elapsed_ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  EXPECT_TRUE(server.send(kPing));
  EXPECT_EQ(server.line(), kPingAnswer);
  EXPECT_EQ(server.finish(10000).status, 0);
  EXPECT_EQ(read_file(temp / "err"), "");
  return timed;
}

const std::string kTags = call_line("quorvi_tags", Json::object());

TEST(HostileApp, FaultsBecomeToolErrors) {
  struct Case {
    const char* fault;
    const char* message;
  };
  const Case cases[] = {
      {"close", kNoResponse},
      {"partial", "Incomplete connector response"},
      {"zero-length", "Invalid connector response size"},
      {"oversize", "Invalid connector response size"},
      {"not-json", "Invalid connector response"},
      {"invalid-utf8", "Invalid connector response"},
  };
  for (const Case& c : cases) {
    TempDir temp;
    StandinApp app(temp / "Automation", {"--fault", c.fault});
    ASSERT_TRUE(app.ready()) << c.fault;
    Timed timed = one_call(app, temp, kTags);
    EXPECT_EQ(timed.answer, failure_answer(c.message)) << c.fault;
    EXPECT_LT(timed.elapsed_ms, 5000) << c.fault;
  }
}

TEST(HostileApp, OddButWellFormedAnswersAreServed) {
  struct Case {
    const char* fault;
    std::optional<Json> result;  // nothing: whatever the app's normal answer is
  };
  const Case cases[] = {
      {"error-null", Json(42)}, {"trailing", std::nullopt}, {"max-size", std::nullopt}};
  for (const Case& c : cases) {
    TempDir temp;
    StandinApp app(temp / "Automation", {"--fault", c.fault});
    ASSERT_TRUE(app.ready()) << c.fault;
    Timed timed = one_call(app, temp, kTags);
    ASSERT_TRUE(timed.answer) << c.fault;
    std::optional<Json> answer = mcp::parse(*timed.answer);
    ASSERT_TRUE(answer) << c.fault;
    EXPECT_EQ((*answer)["result"]["isError"], false) << c.fault;
    if (c.result) {
      EXPECT_EQ((*answer)["result"]["structuredContent"]["result"], *c.result);
    }
  }
}

// Slow: these wait out the socket deadlines or an app that takes its time.

TEST(HostileAppSlow, AnswerAfterFourteenSecondsIsServed) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "delay", "--delay-ms", "14000"});
  ASSERT_TRUE(app.ready());
  Timed timed = one_call(app, temp, kTags);
  ASSERT_TRUE(timed.answer);
  EXPECT_NE(timed.answer->find(R"("isError":false)"), std::string::npos) << *timed.answer;
  EXPECT_GE(timed.elapsed_ms, 13900);
}

TEST(HostileAppSlow, AppThatNeverAnswersMeetsTheReceiveDeadline) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "hang"});
  ASSERT_TRUE(app.ready());
  Timed timed = one_call(app, temp, kTags);
  EXPECT_EQ(timed.answer, failure_answer(kNoResponse));
  EXPECT_GE(timed.elapsed_ms, 14900);
  EXPECT_LT(timed.elapsed_ms, 25000);
}

TEST(HostileAppSlow, AppThatNeverReadsMeetsTheSendDeadline) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "no-read"});
  ASSERT_TRUE(app.ready());
  // About 1 MiB, far beyond what the socket buffers hold, yet within the request limit.
  std::string line = call_line("quorvi_create", {{"text", std::string(1000000, 'x')}});
  ASSERT_LT(line.size(), 1048576u);
  Timed timed = one_call(app, temp, line);
  EXPECT_EQ(timed.answer, failure_answer(kSendFailed));
  EXPECT_GE(timed.elapsed_ms, 4900);
  EXPECT_LT(timed.elapsed_ms, 15000);
}

}  // namespace
}  // namespace quorvi::test
