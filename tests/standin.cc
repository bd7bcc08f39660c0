#include "standin.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <chrono>
#include <stdexcept>
#include <thread>

#include "cli/mcp/json.h"
#include "e2e.h"

namespace quorvi::test {
namespace {

// Polls `done` every 10 ms for at most `timeout_ms`; its last answer.
template <class Done>
bool wait_until(Done done, int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
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
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a test process that crashed
#endif
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  std::string file = dir_ + "/connection.json";
  struct stat info {};
  wait_until([&] { return ::lstat(file.c_str(), &info) == 0 || !running(); }, 10000);
  if (auto content = mcp::parse(read_file(file)); content && content->is_object()) {
    socket_name_ = content->value("socket", "");
    token_ = content->value("token", "");
  }
}

StandinApp::~StandinApp() {
  stop();
}

std::vector<std::string> StandinApp::recorded() const {
  std::vector<std::string> lines;
  std::string text = record_path_ ? read_file(*record_path_) : "";
  for (size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1))
    lines.push_back(text.substr(0, end));
  return lines;
}

std::vector<std::string> StandinApp::wait_recorded(size_t count, int timeout_ms) const {
  wait_until([&] { return recorded().size() >= count; }, timeout_ms);
  return recorded();
}

bool StandinApp::running() {
  int status = 0;
  if (status_ || ::waitpid(pid_, &status, WNOHANG) == 0) return !status_;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return false;
}

int StandinApp::stop() {
  if (running()) ::kill(pid_, SIGTERM);
  if (!wait_until([&] { return !running(); }, 5000)) {
    ::kill(pid_, SIGKILL);
    wait_until([&] { return !running(); }, 5000);
  }
  return status_.value_or(-1);
}

}  // namespace quorvi::test
