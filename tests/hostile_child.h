// A quorvi process that a hostile test talks to while it runs: its standard input and output
// are pipes held by the test, its standard error goes to a file, and the test can look at its
// descriptors, children and peak memory.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "e2e.h"

namespace quorvi::test {

// `changes` on top of an environment with every variable that steers quorvi unset.
Env clean_env(const Env& changes);

struct Exit {
  int status = -1;        // exit status; -1 when it ended by a signal or had to be killed
  long peak_rss_kib = 0;  // wait4's ru_maxrss
};

class Child {
 public:
  // Starts quorvi-test with `args` and the environment changed as in Command::env. Standard
  // error goes to `stderr_path`.
  // Only descriptors 0 to 2 are passed on, so the child's own count starts at three.
  Child(std::vector<std::string> args, const Env& env, const std::string& stderr_path);
  ~Child();  // kills and reaps the process if the test has not finished it
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }

  // Writes all of `bytes` while collecting what the child writes meanwhile (so neither side
  // blocks the other). False when the child stopped reading or `timeout_ms` passed.
  bool send(std::string_view bytes, int timeout_ms = 30000);
  // The next line of output without its line feed, or nothing after `timeout_ms` or at end.
  std::optional<std::string> line(int timeout_ms = 30000);

  void close_input();
  void close_output();  // the test stops reading: the child's next write fails

  // Closes the input, waits up to `timeout_ms` (then kills) and reaps the child.
  Exit finish(int timeout_ms = 30000);

 private:
  bool drain(int timeout_ms);  // reads what is there; false at end of output

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string pending_;
  std::optional<Exit> exit_;
};

// Entries of /proc/PID/fd, sorted; empty when the process is gone.
std::vector<std::string> open_descriptors(pid_t pid);
// Processes whose parent is `pid`, each as "PID STATE" ("Z" marks a zombie).
std::vector<std::string> children_of(pid_t pid);

// True in a build with AddressSanitizer, whose shadow memory makes peak sizes meaningless.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

}  // namespace quorvi::test
