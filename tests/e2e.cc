#include "e2e.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quorvi::test {
namespace {

// What steers quorvi or the test opener: unset in every child unless a test sets it.
constexpr const char* kCleared[] = {"QUORVI_API_TOKEN",          "QUORVI_BRIDGE_DIR",
                                    "QUORVI_ONLY_TAGS",          "QUORVI_EXCLUDE_TAGS",
                                    "QUORVI_APP_PATH",           "QUORVI_TEST_OPENER_LOG",
                                    "QUORVI_TEST_OPENER_STATUS", "QUORVI_TEST_OPENER_SIGPIPE_LOG",
                                    "QUORVI_TEST_OPENER_LAUNCH", "QUORVI_TEST_OPENER_LAUNCH_PID"};

std::vector<std::string> environment_with(const Env& changes) {
  auto changed = [&](const std::string& name) {
    for (const char* cleared : kCleared)
      if (name == cleared) return true;
    for (const auto& change : changes)
      if (change.first == name) return true;
    return false;
  };
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    if (!changed(text.substr(0, text.find('=')))) env.push_back(text);
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

void must(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

int milliseconds_since(std::chrono::steady_clock::time_point start) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count());
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const Command& command, int in, int out, int err, char** argv,
                             char** envp) {
  ::signal(SIGPIPE, SIG_DFL);
  if (command.close_stdin) {
    ::close(0);
  } else {
    ::dup2(in, 0);
  }
  if (command.stdout_path) {
    int fd = ::open(command.stdout_path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
  } else if (command.close_stdout) {
    int lost[2];
    if (::pipe(lost) != 0) ::_exit(127);
    ::dup2(lost[1], 1);
    ::close(lost[0]);
    ::close(lost[1]);
  } else {
    ::dup2(out, 1);
  }
  ::dup2(err, 2);
  if (command.memory_limit_mib > 0) {
    rlim_t bytes = static_cast<rlim_t>(command.memory_limit_mib) << 20;
    rlimit limit{bytes, bytes};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(127);
  }
  if (command.file_limit > 0) {
    rlimit limit{static_cast<rlim_t>(command.file_limit), static_cast<rlim_t>(command.file_limit)};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(127);
  }
  ::execve(argv[0], argv, envp);
  ::_exit(127);
}

}  // namespace

Result run(const Command& command) {
  int in[2], out[2], err[2];
  must(::pipe2(in, O_CLOEXEC) == 0 && ::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0,
       "pipe");
  std::vector<std::string> argv_words{command.program.empty() ? quorvi_exe() : command.program};
  argv_words.insert(argv_words.end(), command.args.begin(), command.args.end());
  std::vector<std::string> env_words = environment_with(command.env);
  auto argv = pointers(argv_words);
  auto envp = pointers(env_words);
  auto start = std::chrono::steady_clock::now();

  pid_t pid = ::fork();
  must(pid >= 0, "fork");
  if (pid == 0) exec_child(command, in[0], out[1], err[1], argv.data(), envp.data());
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);

  Result result;
  size_t written = 0;
  int fds_in = in[1];
  if (command.close_stdin || command.input.empty()) {
    ::close(fds_in);
    fds_in = -1;
  } else {
    ::fcntl(fds_in, F_SETFL, O_NONBLOCK);
  }
  int outputs[2] = {out[0], err[0]};
  bool killed = false;
  while (outputs[0] >= 0 || outputs[1] >= 0 || fds_in >= 0) {
    int waited = milliseconds_since(start);
    if (waited >= command.timeout_ms) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    pollfd fds[3] = {{outputs[0], POLLIN, 0}, {outputs[1], POLLIN, 0}, {fds_in, POLLOUT, 0}};
    if (::poll(fds, 3, command.timeout_ms - waited) < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(outputs[i]);
        outputs[i] = -1;
      }
    }
    if (fds_in >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = ::write(fds_in, command.input.data() + written, command.input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == command.input.size()) {
        ::close(fds_in);
        fds_in = -1;
      }
    }
  }
  for (int fd : {fds_in, outputs[0], outputs[1]})
    if (fd >= 0) ::close(fd);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.elapsed_ms = milliseconds_since(start);
  result.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvi-test-XXXXXX").string();
  must(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;  // a test may have left the directory closed to its owner
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes, unsigned mode) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  file.close();
  must(static_cast<bool>(file) && ::chmod(path.c_str(), mode) == 0, "write_file");
}

}  // namespace quorvi::test
