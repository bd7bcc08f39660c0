#include "cli/mcp/serve.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/fd.h"
#include "platform/io.h"

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

ConnectorResult no_connector(std::string_view, Json) {
  return fail("unused");
}

// A temporary file holding `bytes`, positioned at its start.
Fd temp_file(const std::string& bytes = "") {
  FILE* file = ::tmpfile();
  Fd fd(::dup(::fileno(file)));
  ::fclose(file);
  EXPECT_TRUE(write_all(fd.get(), bytes));
  ::lseek(fd.get(), 0, SEEK_SET);
  return fd;
}

std::string contents(int fd) {
  std::string text;
  char buffer[65536];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = read_some(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

struct Served {
  bool ok;
  std::string out;
};

Served serve_input(int input) {
  Fd output = temp_file();
  Outcome<Ok> outcome = serve(input, output.get(), no_connector);
  return {!failed(outcome), contents(output.get())};
}

Served serve_text(const std::string& input) {
  return serve_input(temp_file(input).get());
}

// `text` padded with spaces before its line feed to `size` bytes in all.
std::string line_of(size_t size, const std::string& text = kPing) {
  return text + std::string(size - text.size() - 1, ' ') + "\n";
}

TEST(ServeTest, Framing) {
  const std::pair<std::string, std::string> rows[] = {
      {"", ""},
      {kPing + "\n", kPong},
      {kPing + "\r\n", kPong},
      {kPing, kPong},
      {kPing + "\n" + kPing, kPong + kPong},
      {"\n", kParseError},
      {" \t \r\n", kParseError},
      {kPing + " " + kPing + "\n", kParseError},
      {"{\n" + kPing + "\n", kParseError + kPong},
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
       "\n",
       ""},
      {"[" + kPing + "]\n",
       R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"
       "\n"},
      {std::string(R"({"jsonrpc":"2.0","id":"\u00e9","method":"ping"})") + "\n",
       "{\"id\":\"\xc3\xa9\",\"jsonrpc\":\"2.0\",\"result\":{}}\n"},
      {"{\"jsonrpc\":\"2.0\",\"id\":\"\xff\",\"method\":\"ping\"}\n", kParseError},
  };
  for (const auto& [in, out] : rows) {
    SCOPED_TRACE(in);
    Served served = serve_text(in);
    EXPECT_TRUE(served.ok);
    EXPECT_EQ(served.out, out);
  }
}

TEST(ServeTest, LineLimit) {
  const std::pair<std::string, std::string> rows[] = {
      {line_of(kMaxLine), kPong},
      {line_of(kMaxLine + 1) + kPing + "\n", kTooLong + kPong},
      {line_of(kMaxLine - 1) + line_of(kMaxLine) + line_of(kMaxLine + 1), kPong + kPong + kTooLong},
      // The 1,048,577th byte is the line feed itself: nothing more to drop.
      {std::string(kMaxLine, ' ') + "\n" + kPing, kTooLong + kPong},
      {std::string(kMaxLine + 1, ' '), kTooLong},
      {std::string(5 * kMaxLine + 7, 'x') + "\n" + kPing + "\n" + std::string(3 * kMaxLine, '['),
       kTooLong + kPong + kTooLong},
  };
  for (const auto& [in, out] : rows) {
    SCOPED_TRACE(in.size());
    Served served = serve_text(in);
    EXPECT_TRUE(served.ok);
    EXPECT_EQ(served.out, out);
  }
}

TEST(ServeTest, InputNotOpenIsEndedInput) {
  int unused = ::dup(0);
  ::close(unused);
  Fd write_only(::open("/dev/null", O_WRONLY));
  for (int input : {unused, write_only.get()}) {
    Served served = serve_input(input);
    EXPECT_TRUE(served.ok);
    EXPECT_EQ(served.out, "");
  }
}

TEST(ServeTest, ReadFailureEndsTheSession) {
  Fd directory(::open("/", O_RDONLY | O_DIRECTORY));
  ASSERT_TRUE(directory.valid());
  Served served = serve_input(directory.get());
  EXPECT_FALSE(served.ok);
  EXPECT_EQ(served.out, "");
}

TEST(ServeTest, WriteFailureEndsTheSession) {
  Fd output(::open("/dev/null", O_RDONLY));
  Fd input = temp_file(kPing + "\n" + kPing + "\n");
  EXPECT_TRUE(failed(serve(input.get(), output.get(), no_connector)));

  // Nothing to answer, nothing to fail.
  Fd quiet = temp_file(R"({"jsonrpc":"2.0","method":"x"})");
  EXPECT_FALSE(failed(serve(quiet.get(), output.get(), no_connector)));
}

// Writes `text` into a pipe after a pause, then closes it; `before` runs first.
void feed_later(
    int fd, std::string text, std::function<void()> before = [] {}) {
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  before();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  write_all(fd, text);
  ::close(fd);
}

TEST(ServeTest, WaitsOnNonBlockingInput) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd input(ends[0]);
  ::fcntl(input.get(), F_SETFL, O_NONBLOCK);
  std::thread writer(feed_later, ends[1], kPing + "\n", [] {});
  Served served = serve_input(input.get());
  writer.join();
  EXPECT_TRUE(served.ok);
  EXPECT_EQ(served.out, kPong);
}

void ignore_signal(int) {}

TEST(ServeTest, InterruptedReadIsRetried) {
  struct sigaction action = {};
  action.sa_handler = ignore_signal;  // no SA_RESTART: read() fails with EINTR
  struct sigaction previous = {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd input(ends[0]);
  pthread_t reader = ::pthread_self();
  std::thread writer(feed_later, ends[1], kPing + "\n",
                     [reader] { ::pthread_kill(reader, SIGUSR1); });
  Served served = serve_input(input.get());
  writer.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(served.ok);
  EXPECT_EQ(served.out, kPong);
}

}  // namespace
}  // namespace quorvi::mcp
