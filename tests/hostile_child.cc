#include "hostile_child.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "e2e.h"

namespace quorvi::test {
namespace {

using Clock = std::chrono::steady_clock;

int left_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return std::max(0, static_cast<int>(left.count()));
}

}  // namespace

Env clean_env(const Env& changes) {
  Env env;
  for (const char* name : {"QUORVI_BRIDGE_DIR", "QUORVI_ONLY_TAGS", "QUORVI_EXCLUDE_TAGS",
                           "QUORVI_APP_PATH", "QUORVI_API_TOKEN", "QUORVI_TEST_OPENER_LOG",
                           "QUORVI_TEST_OPENER_STATUS", "QUORVI_TEST_OPENER_LAUNCH",
                           "QUORVI_TEST_OPENER_LAUNCH_PID", "QUORVI_TEST_FAIL", "LD_PRELOAD"}) {
    env.emplace_back(name, std::nullopt);
  }
  for (const auto& change : changes) {
    std::erase_if(env, [&](const auto& entry) { return entry.first == change.first; });
    env.push_back(change);
  }
  return env;
}

Child::Child(std::vector<std::string> args, const Env& env, const std::string& stderr_path) {
  int in[2], out[2];
  must(::pipe2(in, O_CLOEXEC) == 0 && ::pipe2(out, O_CLOEXEC) == 0, "pipe");
  std::vector<std::string> words{quorvi_exe()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> env_words = environment_with(env);
  auto argv = pointers(words);
  auto envp = pointers(env_words);
  int err = ::open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  must(err >= 0, "open stderr file");
  pid_ = ::fork();
  must(pid_ >= 0, "fork");
  if (pid_ == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err, 2);
    if (::close_range(3, ~0u, 0) != 0) {
      for (int fd = 3; fd < 1024; ++fd)
        ::close(fd);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(err);
  ::close(in[0]);
  ::close(out[1]);
  in_ = in[1];
  out_ = out[0];
  // The test must not die of a child that stopped reading.
  ::signal(SIGPIPE, SIG_IGN);
  ::fcntl(in_, F_SETFL, O_NONBLOCK);
}

Child::~Child() {
  if (!exit_) finish(0);
  if (out_ >= 0) ::close(out_);
}

bool Child::drain(int timeout_ms) {
  if (out_ < 0) return false;
  pollfd wanted{out_, POLLIN, 0};
  int ready = ::poll(&wanted, 1, timeout_ms);
  if (ready <= 0) return true;
  char buffer[65536];
  ssize_t got = ::read(out_, buffer, sizeof buffer);
  if (got > 0) {
    pending_.append(buffer, static_cast<size_t>(got));
    return true;
  }
  if (got < 0 && errno == EINTR) return true;
  ::close(out_);
  out_ = -1;
  return false;
}

bool Child::send(std::string_view bytes, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!bytes.empty()) {
    if (in_ < 0 || left_ms(deadline) == 0) return false;
    pollfd fds[2] = {{in_, POLLOUT, 0}, {out_, POLLIN, 0}};
    if (::poll(fds, out_ >= 0 ? 2 : 1, left_ms(deadline)) < 0 && errno != EINTR) return false;
    if (out_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) drain(0);
    if (!(fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) continue;
    ssize_t put = ::write(in_, bytes.data(), std::min<size_t>(bytes.size(), 1 << 16));
    if (put > 0) {
      bytes.remove_prefix(static_cast<size_t>(put));
    } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> Child::line(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t feed = pending_.find('\n');
    if (feed != std::string::npos) {
      std::string text = pending_.substr(0, feed);
      pending_.erase(0, feed + 1);
      return text;
    }
    if (left_ms(deadline) == 0 || !drain(left_ms(deadline))) return std::nullopt;
  }
}

void Child::close_input() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

void Child::close_output() {
  if (out_ >= 0) ::close(out_);
  out_ = -1;
}

Exit Child::finish(int timeout_ms) {
  if (exit_) return *exit_;
  close_input();
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  rusage usage{};
  bool killed = false;
  for (;;) {
    pid_t done = ::wait4(pid_, &status, WNOHANG, &usage);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) break;
    if (left_ms(deadline) == 0 && !killed) {
      ::kill(pid_, SIGKILL);
      killed = true;
    }
    // Reading keeps a child that is still writing from blocking on a full pipe.
    if (!drain(10)) {
      timespec pause{0, 10'000'000};
      ::nanosleep(&pause, nullptr);
    }
  }
  Exit result;
  result.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.peak_rss_kib = usage.ru_maxrss;
  exit_ = result;
  return result;
}

std::vector<std::string> open_descriptors(pid_t pid) {
  std::vector<std::string> names;
  std::string path = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return names;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> children_of(pid_t pid) {
  std::vector<std::string> found;
  DIR* dir = ::opendir("/proc");
  if (!dir) return found;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream file(std::string("/proc/") + entry->d_name + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // "pid (comm) state ppid ...": the command may hold spaces and parentheses.
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &parent) != 2) continue;
    if (parent == pid) found.push_back(std::string(entry->d_name) + " " + state);
  }
  ::closedir(dir);
  return found;
}

}  // namespace quorvi::test
