#include "e2e.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quorvi::test {
namespace {

// What steers quorvi or the test opener: unset in every child unless a test sets it.
constexpr std::string_view kCleared[] = {
    "QUORVI_API_TOKEN",          "QUORVI_BRIDGE_DIR",
    "QUORVI_ONLY_TAGS",          "QUORVI_EXCLUDE_TAGS",
    "QUORVI_APP_PATH",           "QUORVI_TEST_OPENER_LOG",
    "QUORVI_TEST_OPENER_STATUS", "QUORVI_TEST_OPENER_SIGPIPE_LOG",
    "QUORVI_TEST_OPENER_LAUNCH", "QUORVI_TEST_OPENER_LAUNCH_PID"};

std::vector<std::string> environment_with(const Env& changes) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view name = std::string_view(*entry).substr(0, std::string_view(*entry).find('='));
    bool changed = std::find(std::begin(kCleared), std::end(kCleared), name) != std::end(kCleared);
    for (const auto& change : changes)
      changed |= change.first == name;
    if (!changed) env.emplace_back(*entry);
  }
  for (const auto& [name, value] : changes)
    if (value) env.push_back(name + "=" + *value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> result;
  for (auto& word : words)
    result.push_back(word.data());
  result.push_back(nullptr);
  return result;
}

void set_limit(int resource, long value) {
  rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
  if (value > 0 && ::setrlimit(resource, &limit) != 0) ::_exit(127);
}

}  // namespace

// Standard input, output and error are files in a private directory, so that nothing waits on
// a pipe, not even for a process the child left behind.
Result run(const Command& command) {
  TempDir io;
  write_file(io / "in", command.input);
  std::vector<std::string> args{command.program.empty() ? quorvi_exe() : command.program};
  args.insert(args.end(), command.args.begin(), command.args.end());
  std::vector<std::string> env = environment_with(command.env);
  auto argv = pointers(args), envp = pointers(env);
  std::string out = command.stdout_path.value_or(io / "out"), err = io / "err", in = io / "in";
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {  // only async-signal-safe calls from here on
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    ::dup2(::open(in.c_str(), O_RDONLY), 0);
    if (command.close_stdin) ::close(0);
    int lost[2];  // a pipe whose reader is gone
    if (command.close_stdout && ::pipe(lost) == 0) ::dup2(lost[1], 1), ::close(lost[0]);
    set_limit(RLIMIT_AS, command.memory_limit_mib << 20);
    set_limit(RLIMIT_NOFILE, command.file_limit);
    ::closefrom(3);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  Result result;
  int status = 0;
  auto elapsed_ms = [&] {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
  };
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (elapsed_ms() > command.timeout_ms) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  result.elapsed_ms = elapsed_ms();
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = command.stdout_path ? "" : read_file(out);
  result.err = read_file(err);
  return result;
}

std::string quorvi_exe() {
  return QUORVI_TEST_EXE;
}
std::string shipped_exe() {
  return QUORVI_SHIPPED_EXE;
}
std::string standin_app_exe() {
  return QUORVI_STANDIN_APP_EXE;
}

TempDir::TempDir() {
  path_ = (std::filesystem::temp_directory_path() / "quorvi-test-XXXXXX").string();
  if (!::mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
  std::error_code ignored;  // a test may have left the directory closed to its owner
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes, unsigned mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  if (::chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace quorvi::test
