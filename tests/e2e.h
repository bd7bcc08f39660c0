// Runs an executable of the build with chosen arguments, environment and standard input, and
// captures its standard output, standard error and exit status.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvi::test {

// Changes to the inherited environment: a value sets, nothing unsets.
using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

// The inherited environment with `changes` applied, as NAME=VALUE words for execve.
std::vector<std::string> environment_with(const Env& changes);

// The words as a null-terminated argv or envp; valid while `words` lives unchanged.
std::vector<char*> pointers(std::vector<std::string>& words);

// Throws with the errno text when a system call of the harness failed.
void must(bool ok, const char* what);

struct Command {
  std::vector<std::string> args;           // without the program name
  Env env;                                 // changes to the inherited environment
  std::string input;                       // written to standard input, which is then closed
  bool close_stdin = false;                // start with standard input closed (no descriptor 0)
  bool close_stdout = false;               // standard output is a pipe whose reader is already gone
  std::optional<std::string> stdout_path;  // send standard output to this file instead
  int timeout_ms = 60000;                  // killed after this; status then reads -1
  std::string program;                     // defaults to quorvi_exe()
};

struct Result {
  int status = -1;  // exit status; -1 when killed by a signal or the timeout
  std::string out;
  std::string err;
  int elapsed_ms = 0;
};

Result run(const Command& command);

// Paths of the build's executables.
std::string quorvi_exe();       // the test variant, whose opener is the test opener
std::string test_opener_exe();  // records its arguments; see fixtures/test_opener.cc
std::string standin_app_exe();  // tools/standin-app

// A fresh private directory, removed with everything in it when the holder goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

}  // namespace quorvi::test
