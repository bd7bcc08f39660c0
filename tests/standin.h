// Runs the stand-in app (tools/standin-app) for the length of a test.
//
//   TempDir temp;
//   StandinApp app(temp / "Automation", {"--record", temp / "requests"});
//   run({.args = {"request", "tags", "{}"}, .env = {{"QUORVI_BRIDGE_DIR", app.dir()}}});
//   EXPECT_EQ(app.recorded(1), R"({"arguments":{},...})");
//
// The app serves until the holder goes; then it gets SIGTERM, removes its socket,
// connection.json and (when it made it) the directory, and is waited for.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvi::test {

// What quorvi says when no app answers.
inline constexpr char kOff[] = "Open Quorvi and enable Desktop connector in Settings\n";

class StandinApp {
 public:
  // Starts `quorvi-standin-app dir extra...` and waits (at most 10 seconds) for
  // dir/connection.json; when it does not come, stops the app and throws, which fails the test.
  explicit StandinApp(std::string dir, std::vector<std::string> extra = {});
  ~StandinApp() { stop(); }
  StandinApp(const StandinApp&) = delete;
  StandinApp& operator=(const StandinApp&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& token() const { return token_; }  // from connection.json

  // The `count`th request body that --record recorded ("<no request>" for a connection that
  // ended without a whole frame), once it has come (polled for at most 5 seconds); else
  // "<N recorded>".
  std::string recorded(size_t count) const;

 private:
  bool running();
  // Sends SIGTERM and waits (SIGKILL after 5 seconds).
  void stop();

  std::string dir_, record_path_, token_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

}  // namespace quorvi::test
