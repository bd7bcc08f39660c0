#include "e2e.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quorvi::test {

std::vector<std::string> environment_with(const Env& changes) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& change : changes)
      replaced |= change.first == name;
    if (!replaced) env.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) env.push_back(name + "=" + *value);
  }
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
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    if (command.close_stdin) {
      ::close(0);
    } else {
      ::dup2(in[0], 0);
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
      ::dup2(out[1], 1);
    }
    ::dup2(err[1], 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);

  Result result;
  size_t written = 0;
  int in_fd = in[1];
  if (command.close_stdin || command.input.empty()) {
    ::close(in_fd);
    in_fd = -1;
  } else {
    ::fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  int open_outputs = 2;
  bool killed = false;
  while (open_outputs > 0 || in_fd >= 0) {
    auto now = std::chrono::steady_clock::now();
    int waited = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count());
    if (waited >= command.timeout_ms) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
    int n = ::poll(fds, 3, command.timeout_ms - waited);
    if (n < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        (i == 0 ? out[0] : err[0]) = -1;
        --open_outputs;
      }
    }
    if (in_fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = ::write(in_fd, command.input.data() + written, command.input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == command.input.size()) {
        ::close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) ::close(in_fd);
  if (out[0] >= 0) ::close(out[0]);
  if (err[0] >= 0) ::close(err[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.elapsed_ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count());
  result.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string quorvi_exe() {
  return QUORVI_TEST_EXE;
}
std::string test_opener_exe() {
  return QUORVI_TEST_OPENER_EXE;
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
  std::error_code ignored;
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

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  must(static_cast<bool>(file), "write_file");
}

}  // namespace quorvi::test
