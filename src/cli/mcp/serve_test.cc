#include "cli/mcp/serve.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <new>
#include <string>

#include "platform/fd.h"
#include "platform/io.h"
#include "temp_dir.h"

namespace quorvi::mcp {
namespace {

const std::string kPing = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
const std::string kPong = R"({"id":1,"jsonrpc":"2.0","result":{}})"
                          "\n";
const std::string kParseError =
    R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})"
    "\n";
const std::string kTooLong =
    R"({"error":{"code":-32600,"message":"Request exceeds 1 MB"},"id":null,"jsonrpc":"2.0"})"
    "\n";

// A temporary file holding `bytes`, positioned at its start.
Fd temp_file(const std::string& bytes = "") {
  FILE* file = ::tmpfile();
  Fd fd(::dup(::fileno(file)));
  ::fclose(file);
  EXPECT_TRUE(write_all(fd.get(), bytes) && ::lseek(fd.get(), 0, SEEK_SET) == 0);
  return fd;
}

// Serves `input` into a temporary file: whether it ended well, and what it wrote. Without a
// connector no message may reach one.
std::pair<bool, std::string> serve_from(int input, const Connector& connector = {}) {
  Fd output = temp_file();
  bool ok = !failed(serve(input, output.get(), connector));
  std::string text(65536, '\0');
  text.resize(static_cast<size_t>(
      std::max<ssize_t>(0, ::pread(output.get(), text.data(), text.size(), 0))));
  return {ok, text};
}

// `text` padded with spaces before its line feed to `size` bytes in all.
std::string line_of(size_t size, const std::string& text = kPing) {
  return text + std::string(size - text.size() - 1, ' ') + "\n";
}

TEST(Serve, LinesAndTheirLimit) {
  const std::pair<std::string, std::string> rows[] = {
      {"", ""},
      {kPing + "\r\n" + kPing, kPong + kPong},
      {" \t \r\n", kParseError},
      {"{\n" + kPing + "\n", kParseError + kPong},
      {line_of(kMaxLine) + line_of(kMaxLine + 1) + kPing, kPong + kTooLong + kPong},
  };
  for (const auto& [in, out] : rows)
    EXPECT_EQ(serve_from(temp_file(in).get()), std::make_pair(true, out)) << in.substr(0, 80);
}

// An input that cannot be read ends the session as a failure. (No input at all, an ordinary end,
// and a closed output are seen end to end: tests/mcp_server_test.cc.)
TEST(Serve, InputThatCannotBeRead) {
  Fd directory(::open("/", O_RDONLY | O_DIRECTORY));
  EXPECT_EQ(serve_from(directory.get()), std::make_pair(false, std::string()));
}

// A descriptor handed over non-blocking is waited on, through a signal that cuts the wait short:
// the signal comes while the server waits, and only its handler writes the line.
TEST(Serve, WaitsOnNonBlockingInputThroughSignals) {
  static const std::string line = kPing + "\n";
  static int output = -1;
  struct sigaction action = {}, previous = {};
  action.sa_handler = [](int) {  // no SA_RESTART: the wait fails with EINTR
    (void)!::write(output, line.data(), line.size());
    ::close(output);
  };
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd input(ends[0]);
  output = ends[1];
  ASSERT_EQ(::fcntl(input.get(), F_SETFL, O_NONBLOCK), 0);
  std::pair<bool, std::string> served;
  {
    std::jthread signal =
        test::when_blocked([reader = ::pthread_self()] { ::pthread_kill(reader, SIGUSR1); });
    served = serve_from(input.get());
  }
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(served, std::make_pair(true, kPong));
}

// Memory that runs out while a call is made. Before the request may have reached the app, the
// request is answered for its id with an internal error; once it may have, the app may have
// carried the call out, so the answer is a tool result that says so. The session goes on.
TEST(Serve, MemoryRunningOutWhileACallIsMade) {
  const std::string input =
      R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18",)"
      R"("capabilities":{},"clientInfo":{}}})"
      "\n"
      R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
      "\n"
      R"({"jsonrpc":"2.0","id":"c","method":"tools/call","params":{"name":"quorvi_tags"}})"
      "\n"
      R"({"jsonrpc":"2.0","id":"s","method":"tools/call","params":{"name":"quorvi_tags","_meta":)"
      R"({"io.modelcontextprotocol/protocolVersion":"2026-07-28",)"
      R"("io.modelcontextprotocol/clientCapabilities":{}}}})"
      "\n" +
      kPing + "\n";
  const Connector before = {
      [](std::string_view, Parsed) -> Outcome<Request> { throw std::bad_alloc(); },
      [](Request) -> ConnectorResult { return fail("unreached"); }};
  const Connector after = {[](std::string_view, Parsed) -> Outcome<Request> { return Request{}; },
                           [](Request) -> ConnectorResult { throw std::bad_alloc(); }};
  const std::string failed =
      R"("content":[{"text":"Not enough memory for the connector response; check the note )"
      R"(before retrying changes","type":"text"}],"isError":true)";
  const std::pair<const Connector*, std::string> rows[] = {
      {&before, R"({"error":{"code":-32603,"message":"Internal error"},"id":"c","jsonrpc":"2.0"})"
                "\n"
                R"({"error":{"code":-32603,"message":"Internal error"},"id":"s","jsonrpc":"2.0"})"
                "\n"},
      // In the stateless revision the failure is still a complete result that names the server.
      {&after,
       R"({"id":"c","jsonrpc":"2.0","result":{)" + failed + "}}\n" +
           R"({"id":"s","jsonrpc":"2.0","result":{"_meta":{"io.modelcontextprotocol/serverInfo":)"
           R"({"name":"Quorvi","version":"0.11.0"}},)" +
           failed + R"(,"resultType":"complete"}})" + "\n"},
  };
  for (const auto& [connector, answers] : rows) {
    auto [ok, out] = serve_from(temp_file(input).get(), *connector);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(out.ends_with(answers + kPong)) << out;
  }
}

}  // namespace
}  // namespace quorvi::mcp
