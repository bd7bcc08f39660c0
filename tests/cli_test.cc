// The command-line front end, run as a real process: what it prints, where, with which exit
// status, and which URL the opener received.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"

namespace quorvi::test {
namespace {

const std::string kHelp =
    "Quorvi native CLI\n"
    "Usage: quorvi [--callback URL] "
    "new|search|open|append|prepend|replace|trash|archive|pin|notes|tags|scratchpad [arguments]\n"
    "quorvi scratchpad [CALCULATION] opens the quick calculator over the current app, for "
    "launchers such as Raycast or Alfred.\n"
    "Set QUORVI_API_TOKEN for existing-note URL queries and mutations.\n"
    "Native JSON and MCP: quorvi request OPERATION JSON_OBJECT | quorvi mcp-server\n"
    "quorvi help all prints the complete connector operation schemas. Enable Desktop connector "
    "in Quorvi Settings.\n";
const std::string kUrlUsage =
    "Usage: quorvi [--callback URL] "
    "new|search|open|append|prepend|replace|trash|archive|pin|notes|tags|scratchpad "
    "[arguments]\n";
const std::string kNativeUsage =
    "Usage: quorvi mcp-server | quorvi request OPERATION JSON_OBJECT\n";
const std::string kHeader = "Native connector operations (quorvi request OPERATION JSON_OBJECT):\n";
const std::string kNotObject = "Arguments must be a JSON object\n";
const std::string kNoToken = "Set QUORVI_API_TOKEN from Quorvi Settings \xE2\x86\x92 Automation\n";
const std::string kCouldNotOpen = "Could not open Quorvi\n";
const std::string kStdoutFailed = "Could not write to standard output\n";
const std::string kBase = "quorvi://x-callback-url/";

// One run of quorvi-test with the opener's record in a private directory. The token is unset
// unless `token` is given; the connector directory is an empty private one, so that nothing
// launches an app or reaches a real connector.
struct Trial {
  TempDir dir;
  Result result;
  std::string opened() const { return read_file(dir / "opened"); }
  std::string sigpipe() const { return read_file(dir / "sigpipe"); }
};

Command command(const TempDir& dir, std::vector<std::string> args,
                std::optional<std::string> token = std::nullopt) {
  Command c;
  c.args = std::move(args);
  c.env = {{"QUORVI_TEST_OPENER_LOG", dir / "opened"},
           {"QUORVI_TEST_OPENER_SIGPIPE_LOG", dir / "sigpipe"},
           {"QUORVI_TEST_OPENER_STATUS", std::nullopt},
           {"QUORVI_API_TOKEN", std::move(token)},
           {"QUORVI_BRIDGE_DIR", dir.path()},
           {"HOME", dir.path()}};
  c.timeout_ms = 20000;
  return c;
}

void set_env(Command& c, const std::string& name, std::optional<std::string> value) {
  for (auto& [key, old] : c.env) {
    if (key == name) {
      old = std::move(value);
      return;
    }
  }
  c.env.emplace_back(name, std::move(value));
}

void run(Trial& r, std::vector<std::string> args, std::optional<std::string> token = std::nullopt) {
  r.result = quorvi::test::run(command(r.dir, std::move(args), std::move(token)));
}

std::string words(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& word : args)
    line += "[" + word + "]";
  return line;
}

// A refusal: one message line on standard error, status 1, nothing printed or opened.
void expect_refused(const Trial& r, const std::string& err, const std::string& line) {
  EXPECT_EQ(r.result.status, 1) << line;
  EXPECT_EQ(r.result.out, "") << line;
  EXPECT_EQ(r.result.err, err) << line;
  EXPECT_EQ(r.opened(), "") << line;
}

TEST(Cli, UrlCommandsOpenTheirUrl) {
  struct Case {
    std::vector<std::string> args;
    std::string url;
  };
  const Case cases[] = {
      {{"new"}, "create?text=%23%20"},
      {{"new", ""}, "create?text="},
      {{"new", "a b&c/\xC3\xA9"}, "create?text=a%20b%26c%2F%C3%A9"},
      {{"search"}, "search?term="},
      {{"scratchpad"}, "scratchpad"},
      {{"scratchpad", "2+2"}, "scratchpad?text=2%2B2"},
      {{"open", "ABC", "--callback", "done:1"}, "open-note?x-success=done%3A1&id=ABC"},
      {{"--undo", "pin", "ABC"}, "pin?id=ABC&value=false&token=tok"},
      {{"--callback", "--undo", "pin", "ABC"}, "pin?x-success=--undo&id=ABC&token=tok"},
      {{"archive", "--undo", "ABC"}, "archive?id=ABC&value=false&token=tok"},
      {{"tags"}, "tags?token=tok"},
      // Help words in lookalike spellings are ordinary words.
      {{"new", "-H"}, "create?text=-H"},
      {{"new", "--HELP"}, "create?text=--HELP"},
  };
  for (const Case& c : cases) {
    Trial r;
    run(r, c.args, "tok");
    EXPECT_EQ(r.result.status, 0) << words(c.args);
    EXPECT_EQ(r.result.out, "") << words(c.args);
    EXPECT_EQ(r.result.err, "") << words(c.args);
    EXPECT_EQ(r.opened(), kBase + c.url + "\n") << words(c.args);
  }
}

TEST(Cli, UrlRefusalsOpenNothing) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> token;
    std::string err;
  };
  const Case cases[] = {
      {{}, "tok", kUrlUsage},
      {{"append", "ABC"}, "tok", "Missing argument for append\n"},
      {{"tags", "x"}, "tok", "Unexpected extra arguments\n"},
      {{"new", "x", "--undo"}, "tok", "--undo applies to trash, archive, or pin\n"},
      {{"--undo", "append"}, "tok", "Missing argument for append\n"},
      {{"pin", "ABC"}, std::nullopt, kNoToken},
      {{"pin", "ABC"}, "", kNoToken},
      {{"pin", "ABC"}, "\xC3", kNoToken},  // a token that is not UTF-8 counts as absent
      {{"pin"}, std::nullopt, "Missing argument for pin\n"},
      {{"new", "x", "--callback"}, "tok", "--callback requires a URL\n"},
      {{"--callback", "x"}, "tok", kUrlUsage},
      {{"--callback", "a", "--callback", "b", "new"}, "tok", "Unknown command: --callback\n"},
      {{"Help", "all"}, "tok", "Unknown command: Help\n"},
      {{"--callback", "u", "request", "op", "{}"}, "tok", "Unknown command: request\n"},
      {{"-help"}, "tok", "Unknown command: -help\n"},
  };
  for (const Case& c : cases) {
    Trial r;
    run(r, c.args, c.token);
    expect_refused(r, c.err, words(c.args));
  }
}

TEST(Cli, OpenerFailure) {
  for (const char* status : {"1", "3", "signal"}) {
    Trial r;
    Command c = command(r.dir, {"new", "x"});
    set_env(c, "QUORVI_TEST_OPENER_STATUS", status);
    r.result = quorvi::test::run(c);
    EXPECT_EQ(r.result.status, 1) << status;
    EXPECT_EQ(r.result.out, "") << status;
    EXPECT_EQ(r.result.err, kCouldNotOpen) << status;
    EXPECT_EQ(r.opened(), kBase + "create?text=x\n") << status;
  }
}

// The process ignores the broken-pipe signal; the opener must not inherit that.
TEST(Cli, OpenerStartsWithDefaultBrokenPipeAction) {
  Trial r;
  run(r, {"new"});
  EXPECT_EQ(r.result.status, 0);
  EXPECT_EQ(r.sigpipe(), "default\n");
}

// The shipped executable runs /usr/bin/open and nothing else: no search of PATH. Here that path
// is missing or a Debian helper that cannot open a quorvi: URL, so the command fails either way.
TEST(Cli, ShippedExecutableRunsOnlyUsrBinOpen) {
#ifdef __APPLE__
  GTEST_SKIP() << "/usr/bin/open would hand the URL to the app";
#endif
  TempDir bin;
  const std::string marker = bin / "ran";
  write_file(bin / "open", "#!/bin/sh\necho \"$@\" > '" + marker + "'\n");
  ASSERT_EQ(::chmod((bin / "open").c_str(), 0700), 0);
  TempDir dir;
  Command c = command(dir, {"new", "x"});
  c.program = QUORVI_SHIPPED_EXE;
  set_env(c, "PATH", bin.path());
  Result result = quorvi::test::run(c);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(result.err.ends_with(kCouldNotOpen)) << result.err;
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_EQ(read_file(dir / "opened"), "");
}

TEST(Cli, HelpWordsAnywhere) {
  const std::vector<std::vector<std::string>> lines = {
      {"-h"},
      {"--help"},
      {"new", "-h"},
      {"--help", "new"},
      {"--callback", "-h", "new"},
      {"unknown", "--help"},
      {"tags", "x", "y", "-h"},
      {"Help", "-h"},
  };
  for (const auto& args : lines) {
    Trial r;
    run(r, args);
    EXPECT_EQ(r.result.status, 0) << words(args);
    EXPECT_EQ(r.result.out, kHelp) << words(args);
    EXPECT_EQ(r.result.err, "") << words(args);
    EXPECT_EQ(r.opened(), "") << words(args);
  }
}

TEST(Cli, NativeUsage) {
  const std::vector<std::vector<std::string>> lines = {
      {"help"},
      {"help", "foo"},
      {"help", "all", "x"},
      {"help", "-h"},
      {"help", "ALL"},
      {"mcp-server", "x"},
      {"mcp-server", "--help"},
      {"request"},
      {"request", "op"},
      {"request", "op", "{}", "x"},
  };
  for (const auto& args : lines) {
    Trial r;
    run(r, args);
    expect_refused(r, kNativeUsage, words(args));
  }
}

TEST(Cli, HelpAll) {
  Trial r;
  run(r, {"help", "all"});
  EXPECT_EQ(r.result.status, 0);
  EXPECT_EQ(r.result.err, "");
  const std::string& out = r.result.out;
  ASSERT_TRUE(out.starts_with(kHeader + "[\n  {\n")) << out.substr(0, 200);
  EXPECT_TRUE(out.ends_with("\n  }\n]\n"));
}

std::string nested(size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

TEST(Cli, RequestArgumentsMustBeAnObject) {
  std::vector<std::string> refused = {
      "",  "[]",   "\"s\"", "1",     "true", "false",      "null",
      "{", "{} x", "{}{}",  "{} {}", "{}\v", "{\"a\":1,}", "\xEF\xBB\xBF{}"};
  refused.push_back("{\"a\":" + nested(127) + "}");  // 128 levels with the outer object
  for (const auto& arguments : refused) {
    Trial r;
    run(r, {"request", "search", arguments});
    expect_refused(r, kNotObject, arguments);
  }
}

// Arguments that pass the check reach the connector; here there is none, so the connector's
// own message follows, never the object refusal.
TEST(Cli, RequestArgumentsAccepted) {
  const std::vector<std::vector<std::string>> lines = {
      {"request", "search", "{}"},
      {"request", "search", " \t\r\n{} \t\r\n"},
      {"request", "search", "{\"a\":" + nested(126) + "}"},
      {"request", "-h", "{}"},
      {"request", "quorvi_search", "{\"a\":1,\"a\":2}"},
  };
  for (const auto& args : lines) {
    Trial r;
    run(r, args);
    EXPECT_EQ(r.result.status, 1) << words(args);
    EXPECT_EQ(r.result.out, "") << words(args);
    EXPECT_NE(r.result.err, kNotObject) << words(args);
    EXPECT_NE(r.result.err, kHelp) << words(args);
    EXPECT_TRUE(r.result.err.ends_with("\n")) << words(args);
    EXPECT_EQ(r.result.err.find('\n'), r.result.err.size() - 1) << r.result.err;
    EXPECT_EQ(r.opened(), "") << words(args);
  }
}

TEST(Cli, ArgumentsMustBeUtf8) {
  const std::vector<std::vector<std::string>> lines = {
      {"new", "\xFF"},
      {"new", "\xC0\x80"},
      {"--help", "\xFF"},
      {"request", "op\xFF", "{}"},
      {"--callback", "x\xFF", "new"},
  };
  for (const auto& args : lines) {
    Trial r;
    run(r, args, "tok");
    expect_refused(r, "Arguments must be valid UTF-8\n", words(args));
  }
}

// Standard output that cannot be written is a failure with its own message.
enum class Broken { full_device, closed_pipe, closed_descriptor };
constexpr Broken kBroken[] = {Broken::full_device, Broken::closed_pipe, Broken::closed_descriptor};

void break_stdout(Command& c, Broken broken) {
  if (broken == Broken::full_device) c.stdout_path = "/dev/full";
  if (broken == Broken::closed_pipe) c.close_stdout = true;
  if (broken == Broken::closed_descriptor) {
    // The shell closes descriptor 1 and replaces itself with quorvi.
    c.args.insert(c.args.begin(), {"-c", "exec \"$0\" \"$@\" >&-", quorvi_exe()});
    c.program = "/bin/sh";
  }
}

TEST(Cli, StdoutFailures) {
  for (Broken broken : kBroken) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"help", "all"}}) {
      TempDir dir;
      Command c = command(dir, args);
      break_stdout(c, broken);
      Result result = quorvi::test::run(c);
      EXPECT_EQ(result.status, 1) << words(args) << static_cast<int>(broken);
      EXPECT_EQ(result.err, kStdoutFailed) << words(args) << static_cast<int>(broken);
    }
  }
}

// A connector that answers one request with a fixed frame, in a private directory.
class OneShotConnector {
 public:
  explicit OneShotConnector(std::string body) : body_(std::move(body)) {
    write_file(dir_ / "connection.json",
               "{\"socket\":\"q-t.sock\",\"token\":\"" + std::string(72, 't') + "\"}");
    ::chmod((dir_ / "connection.json").c_str(), 0600);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir_ / "q-t.sock";
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bound_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             ::chmod(path.c_str(), 0600) == 0 && ::listen(listener_, 1) == 0;
    if (bound_) server_ = std::thread([this] { serve(); });
  }
  ~OneShotConnector() {
    ::shutdown(listener_, SHUT_RDWR);
    if (server_.joinable()) server_.join();
    ::close(listener_);
  }
  bool ready() const { return bound_; }
  const std::string& path() const { return dir_.path(); }

 private:
  void serve() {
    int peer = ::accept(listener_, nullptr, nullptr);
    if (peer < 0) return;
    unsigned char length[4];
    if (::recv(peer, length, 4, MSG_WAITALL) == 4) {
      std::string request(
          static_cast<size_t>(length[0]) << 24 | length[1] << 16 | length[2] << 8 | length[3],
          '\0');
      ::recv(peer, request.data(), request.size(), MSG_WAITALL);
      uint32_t size = static_cast<uint32_t>(body_.size());
      std::string frame = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                           static_cast<char>(size >> 8), static_cast<char>(size)};
      frame += body_;
      ::send(peer, frame.data(), frame.size(), MSG_NOSIGNAL);
    }
    ::close(peer);
  }

  TempDir dir_;
  std::string body_;
  int listener_ = -1;
  bool bound_ = false;
  std::thread server_;
};

TEST(Cli, RequestResultIsPrintedCompact) {
  OneShotConnector connector(R"({"result": {"b": [1, 2.0], "a": "x"}})");
  ASSERT_TRUE(connector.ready());
  TempDir dir;
  Command c = command(dir, {"request", "search", "{}"});
  set_env(c, "QUORVI_BRIDGE_DIR", connector.path());
  Result result = quorvi::test::run(c);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "{\"a\":\"x\",\"b\":[1,2.0]}\n");
  EXPECT_EQ(result.status, 0);
}

TEST(Cli, RequestResultToBrokenStdout) {
  for (Broken broken : kBroken) {
    OneShotConnector connector(R"({"result":{"ok":true}})");
    ASSERT_TRUE(connector.ready());
    TempDir dir;
    Command c = command(dir, {"request", "search", "{}"});
    set_env(c, "QUORVI_BRIDGE_DIR", connector.path());
    break_stdout(c, broken);
    Result result = quorvi::test::run(c);
    EXPECT_EQ(result.status, 1) << static_cast<int>(broken);
    EXPECT_EQ(result.err, kStdoutFailed) << static_cast<int>(broken);
  }
}

}  // namespace
}  // namespace quorvi::test
