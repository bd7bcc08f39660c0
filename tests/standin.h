// Runs the stand-in app (tools/standin-app) for the length of a test.
//
//   TempDir temp;
//   StandinApp app(temp / "Automation", {"--record", temp / "requests"});
//   run({.args = {"request", "tags", "{}"}, .env = {{"QUORVI_BRIDGE_DIR", app.dir()}}});
//   EXPECT_EQ(app.wait_recorded(1)[0], R"({"arguments":{},...})");
//
// The app serves until the holder goes; then it gets SIGTERM, removes its socket,
// connection.json and (when it made it) the directory, and is waited for.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvi::test {

class StandinApp {
 public:
  // Starts `quorvi-standin-app dir extra...` and waits (at most 10 seconds) for
  // dir/connection.json; ready() tells whether it came.
  explicit StandinApp(std::string dir, std::vector<std::string> extra = {});
  // Sends SIGTERM and waits (SIGKILL after 5 seconds).
  ~StandinApp();
  StandinApp(const StandinApp&) = delete;
  StandinApp& operator=(const StandinApp&) = delete;

  const std::string& dir() const { return dir_; }
  bool ready() const { return !token_.empty(); }
  const std::string& token() const { return token_; }  // from connection.json

  // Polls (at most `timeout_ms`) until --record has recorded at least `count` request bodies,
  // one per connection ("<no request>" for one that ended without a whole frame), and returns
  // them. Empty without --record.
  std::vector<std::string> wait_recorded(size_t count, int timeout_ms = 5000) const;

 private:
  bool running();

  std::string dir_, record_path_, token_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

}  // namespace quorvi::test
