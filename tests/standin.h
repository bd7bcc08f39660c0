// Runs the stand-in app (tools/standin-app) for the length of a test.
//
//   quorvi::test::TempDir temp;
//   quorvi::test::StandinApp app(temp / "Automation", {"--record", temp / "requests"});
//   ... QUORVI_BRIDGE_DIR=app.dir() ...
//   EXPECT_EQ(app.wait_recorded(1)[0], R"({"arguments":{},...})");
//
// The app serves until the holder goes; then it gets SIGTERM, removes its socket,
// connection.json and (when it made it) the directory, and is waited for.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/mcp/json.h"

namespace quorvi::test {

class StandinApp {
 public:
  // Starts `quorvi-standin-app dir extra...`. With `wait` it then waits (at most 10 seconds)
  // for dir/connection.json; see ready(). Throws std::runtime_error if the app cannot start.
  explicit StandinApp(std::string dir, std::vector<std::string> extra = {}, bool wait = true);
  ~StandinApp();
  StandinApp(const StandinApp&) = delete;
  StandinApp& operator=(const StandinApp&) = delete;

  const std::string& dir() const { return dir_; }
  pid_t pid() const { return pid_; }

  // Waits until connection.json exists (or the app has exited); true when it does. Reads the
  // token and socket name from it.
  bool wait_ready(int timeout_ms = 10000);
  bool ready() const { return !token_.empty() || !socket_name_.empty(); }

  // From connection.json; empty until ready.
  const std::string& token() const { return token_; }
  const std::string& socket_name() const { return socket_name_; }
  std::string socket_path() const { return dir_ + "/" + socket_name_; }

  // The request bodies recorded by --record so far, one per connection; "<no request>" for a
  // connection that ended without a whole frame. Empty without --record.
  std::vector<std::string> recorded() const;
  // Polls (at most `timeout_ms`) until at least `count` bodies are recorded, and returns them.
  std::vector<std::string> wait_recorded(size_t count, int timeout_ms = 5000) const;

  // Sends SIGTERM and waits (SIGKILL after 5 seconds). Returns the exit status, -1 if the app
  // ended by a signal. Later calls return the same status.
  int stop();
  // False once the app has exited.
  bool running();

  // Raw exchange: connects to the socket, sends `bytes` and returns everything the app sends
  // back until it closes the connection or `timeout_ms` passes. Empty if it cannot connect.
  std::string talk(std::string_view bytes, int timeout_ms = 5000) const;

  // One well-formed request with this app's token. Returns the parsed answer ({"result":...} or
  // {"error":"..."}), or null when the answer is not one readable frame.
  mcp::Json call(const std::string& operation, const mcp::Json& arguments,
                 const mcp::Json& scope = empty_scope()) const;

  static mcp::Json empty_scope();

 private:
  std::string dir_;
  std::optional<std::string> record_path_;
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string token_;
  std::string socket_name_;
};

// A 4-byte big-endian length followed by `body`.
std::string frame(std::string_view body);
// The body of one whole frame with nothing after it, or nothing.
std::optional<std::string> unframe(std::string_view bytes);

}  // namespace quorvi::test
