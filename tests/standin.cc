#include "standin.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "cli/mcp/json.h"
#include "e2e.h"

namespace quorvi::test {
namespace {

using Clock = std::chrono::steady_clock;

void nap() {
  timespec pause{0, 10 * 1000 * 1000};
  ::nanosleep(&pause, nullptr);
}

bool before(Clock::time_point start, int timeout_ms) {
  return Clock::now() - start < std::chrono::milliseconds(timeout_ms);
}

}  // namespace

StandinApp::StandinApp(std::string dir, std::vector<std::string> extra) : dir_(std::move(dir)) {
  for (size_t i = 0; i + 1 < extra.size(); ++i)
    if (extra[i] == "--record") record_path_ = extra[i + 1];
  std::vector<std::string> words{standin_app_exe(), dir_};
  words.insert(words.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (auto& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid_ == 0) {
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a test process that crashed
#endif
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  std::string file = dir_ + "/connection.json";
  struct stat info {};
  for (auto start = Clock::now(); ::lstat(file.c_str(), &info) != 0; nap()) {
    if (!before(start, 10000) || !running()) return;
  }
  auto content = mcp::parse(read_file(file));
  if (!content || !content->is_object()) return;
  socket_name_ = content->value("socket", "");
  token_ = content->value("token", "");
}

StandinApp::~StandinApp() {
  stop();
}

std::vector<std::string> StandinApp::recorded() const {
  std::vector<std::string> lines;
  if (!record_path_) return lines;
  std::string text = read_file(*record_path_);
  for (size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1))
    lines.push_back(text.substr(0, end));
  return lines;
}

std::vector<std::string> StandinApp::wait_recorded(size_t count, int timeout_ms) const {
  auto start = Clock::now();
  auto lines = recorded();
  for (; lines.size() < count && before(start, timeout_ms); lines = recorded())
    nap();
  return lines;
}

bool StandinApp::running() {
  if (status_) return false;
  int status = 0;
  pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0 || (done < 0 && errno == EINTR)) return true;
  status_ = done == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return false;
}

int StandinApp::stop() {
  if (!running()) return *status_;
  ::kill(pid_, SIGTERM);
  for (auto start = Clock::now(); running(); nap()) {
    if (before(start, 5000)) continue;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = -1;
  }
  return *status_;
}

}  // namespace quorvi::test
