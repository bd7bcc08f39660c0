// The stand-in app as its users see it: the rendezvous on disk, the framed exchange, the note
// store through raw frames, the fault modes and a clean stop.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

using mcp::Json;
namespace fs = std::filesystem;

mode_t mode_of(const std::string& path, mode_t* type = nullptr) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 07777;
  if (type) *type = info.st_mode & S_IFMT;
  return info.st_mode & 07777;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(dir, ignored)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Json result_of(const Json& answer) {
  return answer.contains("result") ? answer["result"] : Json("no result");
}

std::string error_of(const Json& answer) {
  return answer.contains("error") ? answer["error"].get<std::string>() : "no error";
}

Json scope(std::vector<std::string> only, std::vector<std::string> exclude) {
  return {{"excludeTags", exclude}, {"onlyTags", only}};
}

TEST(StandinApp, PublishesAPrivateRendezvousAndRemovesItOnSigterm) {
  TempDir temp;
  std::string dir = temp / "deep/er/Automation";
  StandinApp app(dir);
  ASSERT_TRUE(app.ready());
  mode_t type = 0;
  EXPECT_EQ(mode_of(dir, &type), 0700u);
  EXPECT_EQ(type, static_cast<mode_t>(S_IFDIR));
  EXPECT_EQ(mode_of(dir + "/connection.json", &type), 0600u);
  EXPECT_EQ(type, static_cast<mode_t>(S_IFREG));
  EXPECT_EQ(mode_of(app.socket_path(), &type), 0600u);
  EXPECT_EQ(type, static_cast<mode_t>(S_IFSOCK));
  EXPECT_TRUE(std::regex_match(app.socket_name(), std::regex("q-[A-Za-z0-9]+\\.sock")));
  EXPECT_TRUE(std::regex_match(app.token(), std::regex("[A-Za-z0-9]{72}")));
  EXPECT_EQ(read_file(dir + "/connection.json"),
            R"({"socket":")" + app.socket_name() + R"(","token":")" + app.token() + R"("})");
  EXPECT_EQ(names_in(dir), (std::vector<std::string>{"connection.json", app.socket_name()}));

  EXPECT_EQ(app.stop(), 0);
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_TRUE(fs::exists(temp / "deep/er"));
}

TEST(StandinApp, KeepsADirectoryItDidNotCreateButMakesItPrivate) {
  TempDir temp;
  std::string dir = temp / "Automation";
  fs::create_directory(dir);
  ::chmod(dir.c_str(), 0755);
  std::string token(72, 'T');
  StandinApp app(dir,
                 {"--token", token, "--socket-name", "q-fixed.sock", "--pid-file", temp / "pid"});
  EXPECT_EQ(mode_of(dir), 0700u);
  EXPECT_EQ(app.token(), token);
  EXPECT_EQ(app.socket_name(), "q-fixed.sock");
  EXPECT_EQ(read_file(temp / "pid"), std::to_string(app.pid()) + "\n");
  EXPECT_EQ(app.stop(), 0);
  EXPECT_TRUE(fs::exists(dir));
  EXPECT_TRUE(names_in(dir).empty());
}

TEST(StandinApp, StartDelayPublishesLater) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--start-delay-ms", "400"}, false);
  EXPECT_FALSE(fs::exists(temp / "Automation"));
  EXPECT_TRUE(app.wait_ready());
  EXPECT_EQ(result_of(app.call("search", Json::object()))["total"], 0);
}

TEST(StandinApp, RefusesABadCommandLine) {
  for (std::vector<std::string> args : {std::vector<std::string>{},
                                        {"dir", "--fault", "sometimes"},
                                        {"dir", "--delay-ms", "-1"},
                                        {"dir", "--bogus", "x"},
                                        {"dir", "other"}}) {
    Command command;
    command.args = args;
    command.timeout_ms = 10000;
    command.program = standin_app_exe();
    Result result = run(command);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("usage: quorvi-standin-app DIR"), std::string::npos);
  }
}

TEST(StandinApp, RefusesAWrongTokenAndRecordsEveryRequest) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--record", temp / "requests"});
  std::string body = R"({"arguments":{},"operation":"tags","scope":{"excludeTags":[],)"
                     R"("onlyTags":[]},"token":"wrong"})";
  EXPECT_EQ(app.talk(frame(body)), frame(R"({"error":"Unauthorized"})"));
  EXPECT_EQ(error_of(app.call("tags", {{"query", "x"}})), "no error");
  app.talk("", 100);  // connects and hangs up without a frame
  app.talk(frame("{}").substr(0, 3), 100);
  auto lines = app.wait_recorded(4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], body);
  EXPECT_EQ(lines[1], R"({"arguments":{"query":"x"},"operation":"tags","scope":{"excludeTags":[],)"
                      R"("onlyTags":[]},"token":")" +
                          app.token() + R"("})");
  EXPECT_EQ(lines[2], "<no request>");
  EXPECT_EQ(lines[3], "<no request>");
}

TEST(StandinApp, CreatedNoteIsFoundAndReadThroughRawFrames) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  auto request = [&](const std::string& operation, const std::string& arguments) {
    return frame(R"({"arguments":)" + arguments + R"(,"operation":")" + operation +
                 R"(","scope":{"excludeTags":[],"onlyTags":[]},"token":")" + app.token() + R"("})");
  };
  std::string created =
      app.talk(request("create", R"({"tags":"demo, #Work#","text":"Hi\nthere"})"));
  ASSERT_TRUE(unframe(created));
  EXPECT_EQ(*unframe(created),
            R"({"result":{"archived":false,"attachments":[],"id":"note-1","pinned":false,)"
            R"("revision":"rev-1","tags":["demo","Work"],"text":"Hi\nthere","title":"Hi",)"
            R"("trashed":false}})");
  EXPECT_EQ(*unframe(app.talk(request("search", R"({"query":"THERE #work"})"))),
            R"({"result":{"limit":50,"notes":[{"archived":false,"id":"note-1","pinned":false,)"
            R"("revision":"rev-1","tags":["demo","Work"],"title":"Hi","trashed":false}],)"
            R"("offset":0,"total":1}})");
  EXPECT_EQ(*unframe(app.talk(request("search", R"({"query":"absent"})"))),
            R"({"result":{"limit":50,"notes":[],"offset":0,"total":0}})");
  EXPECT_EQ(result_of(app.call("read", {{"id", "note-1"}}))["text"], "Hi\nthere");
}

TEST(StandinApp, ScopeHidesNotesLikeMissingOnes) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  app.call("create", {{"text", "a"}, {"tags", "Work"}});
  app.call("create", {{"text", "b"}, {"tags", "work, private"}});
  app.call("create", {{"text", "c"}});
  struct Case {
    Json scope;
    uint64_t total;
    bool first_readable;
  } cases[] = {
      {scope({}, {}), 3, true},          {scope({"work"}, {}), 2, true},
      {scope({}, {"private"}), 2, true}, {scope({"work"}, {"private"}), 1, true},
      {scope({"other"}, {}), 0, false},  {scope({}, {"work"}), 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(mcp::write(c.scope));
    EXPECT_EQ(result_of(app.call("search", Json::object(), c.scope))["total"], c.total);
    Json read = app.call("read", {{"id", "note-1"}}, c.scope);
    EXPECT_EQ(read.contains("result"), c.first_readable);
    if (!c.first_readable) {
      EXPECT_EQ(error_of(read), "Note not found");
    }
  }
  EXPECT_EQ(error_of(app.call("create", {{"text", "d"}}, scope({"work"}, {}))),
            "Note is outside the connector tag scope");
}

TEST(StandinApp, ReplaceNeedsTheCurrentRevision) {
  TempDir temp;
  StandinApp app(temp / "Automation");
  std::string first = result_of(app.call("create", {{"text", "one"}}))["revision"];
  std::string second =
      result_of(app.call("append", {{"id", "note-1"}, {"text", "two"}}))["revision"];
  EXPECT_NE(first, second);
  EXPECT_EQ(error_of(app.call("replace", {{"id", "note-1"}, {"text", "x"}, {"revision", first}})),
            "Note has changed since it was read");
  EXPECT_EQ(error_of(app.call("replace", {{"id", "note-1"}, {"text", "x"}})),
            "Missing or invalid argument: revision");
  Json replaced =
      result_of(app.call("replace", {{"id", "note-1"}, {"text", "three"}, {"revision", second}}));
  EXPECT_EQ(replaced["text"], "three");
  EXPECT_EQ(result_of(app.call("read", {{"id", "note-1"}}))["text"], "three");
}

std::string prefix(uint32_t length) {
  return frame(std::string(length, ' ')).substr(0, 4);
}

TEST(StandinApp, FaultModesShapeTheAnswer) {
  struct Case {
    const char* mode;
    std::string expected;  // the exact bytes sent back
  } cases[] = {
      {"close", ""},
      {"partial", prefix(100) + R"({"result":"partial response padding.....")"},
      {"zero-length", prefix(0)},
      {"oversize", prefix(8388609)},
      {"not-json", frame("this is not JSON")},
      {"invalid-utf8", frame("{\"result\":\"bad \xC3\x28 byte\"}")},
      {"error-null", frame(R"({"error":null,"result":42})")},
      {"trailing", frame(R"({"result":{"tags":[]}})") + "extra bytes after the frame"},
      {"delay", frame(R"({"result":{"tags":[]}})")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    TempDir temp;
    StandinApp app(temp / "Automation", {"--fault", c.mode, "--delay-ms", "50"});
    Json request = {{"arguments", Json::object()},
                    {"operation", "tags"},
                    {"scope", StandinApp::empty_scope()},
                    {"token", app.token()}};
    EXPECT_EQ(app.talk(frame(mcp::write(request))), c.expected);
  }
}

TEST(StandinApp, MaxSizeAnswersWithExactlyEightMebibytes) {
  TempDir temp;
  StandinApp app(temp / "Automation", {"--fault", "max-size"});
  std::string answer = app.talk(frame(mcp::write({{"arguments", {{"text", "big"}}},
                                                  {"operation", "create"},
                                                  {"scope", StandinApp::empty_scope()},
                                                  {"token", app.token()}})));
  auto body = unframe(answer);
  ASSERT_TRUE(body);
  EXPECT_EQ(body->size(), 8388608u);
  auto parsed = mcp::parse(*body);
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)["result"]["text"], "big");
}

TEST(StandinApp, HangAndNoReadHoldTheConnectionUntilStopped) {
  for (const char* mode : {"hang", "no-read"}) {
    SCOPED_TRACE(mode);
    TempDir temp;
    StandinApp app(temp / "Automation", {"--fault", mode});
    auto answer = app.talk(frame("{}"), 300);
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(app.running());
    EXPECT_EQ(app.stop(), 0);
    EXPECT_FALSE(fs::exists(temp / "Automation"));
  }
}

}  // namespace
}  // namespace quorvi::test
