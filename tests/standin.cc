#include "standin.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "e2e.h"

namespace quorvi::test {
namespace {

using Clock = std::chrono::steady_clock;

// A test must not die of SIGPIPE when the app hangs up first (macOS uses SO_NOSIGPIPE instead).
#ifdef MSG_NOSIGNAL
constexpr int kNoSignal = MSG_NOSIGNAL;
#else
constexpr int kNoSignal = 0;
#endif

void nap() {
  timespec pause{0, 10 * 1000 * 1000};
  ::nanosleep(&pause, nullptr);
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool before(Clock::time_point start, int timeout_ms) {
  return Clock::now() - start < std::chrono::milliseconds(timeout_ms);
}

}  // namespace

StandinApp::StandinApp(std::string dir, std::vector<std::string> extra, bool wait)
    : dir_(std::move(dir)) {
  for (size_t i = 0; i + 1 < extra.size(); ++i) {
    if (extra[i] == "--record") record_path_ = extra[i + 1];
  }
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
  if (wait) wait_ready();
}

StandinApp::~StandinApp() {
  stop();
}

bool StandinApp::wait_ready(int timeout_ms) {
  std::string file = dir_ + "/connection.json";
  for (auto start = Clock::now(); !exists(file); nap()) {
    if (!before(start, timeout_ms) || !running()) return false;
  }
  auto content = mcp::parse(read_file(file));
  if (!content || !content->is_object()) return false;
  auto socket = content->find("socket");
  auto token = content->find("token");
  if (socket != content->end() && socket->is_string()) socket_name_ = socket->get<std::string>();
  if (token != content->end() && token->is_string()) token_ = token->get<std::string>();
  return ready();
}

std::vector<std::string> StandinApp::recorded() const {
  std::vector<std::string> lines;
  if (!record_path_) return lines;
  std::string text = read_file(*record_path_);
  for (size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) {
    lines.push_back(text.substr(0, end));
  }
  return lines;
}

std::vector<std::string> StandinApp::wait_recorded(size_t count, int timeout_ms) const {
  auto start = Clock::now();
  auto lines = recorded();
  while (lines.size() < count && before(start, timeout_ms)) {
    nap();
    lines = recorded();
  }
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

std::string StandinApp::talk(std::string_view bytes, int timeout_ms) const {
  std::string path = socket_path();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return {};
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return {};
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#ifdef SO_NOSIGPIPE
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  std::string answer;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t put = ::send(fd, bytes.data() + sent, bytes.size() - sent, kNoSignal);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      sent += static_cast<size_t>(put);
    }
    char buffer[65536];
    for (auto start = Clock::now(); before(start, timeout_ms);) {
      ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      answer.append(buffer, static_cast<size_t>(got));
    }
  }
  ::close(fd);
  return answer;
}

mcp::Json StandinApp::call(const std::string& operation, const mcp::Json& arguments,
                           const mcp::Json& scope) const {
  mcp::Json request = {
      {"arguments", arguments}, {"operation", operation}, {"scope", scope}, {"token", token_}};
  auto body = unframe(talk(frame(mcp::write(request))));
  if (!body) return nullptr;
  auto answer = mcp::parse(*body);
  return answer ? *answer : mcp::Json();
}

mcp::Json StandinApp::empty_scope() {
  return {{"excludeTags", mcp::Json::array()}, {"onlyTags", mcp::Json::array()}};
}

std::string frame(std::string_view body) {
  std::string bytes(4, '\0');
  for (size_t i = 0, size = body.size(); i < 4; ++i) {
    bytes[3 - i] = static_cast<char>((size >> (8 * i)) & 0xff);
  }
  return bytes.append(body);
}

std::optional<std::string> unframe(std::string_view bytes) {
  if (bytes.size() < 4) return std::nullopt;
  size_t length = 0;
  for (size_t i = 0; i < 4; ++i)
    length = (length << 8) | static_cast<unsigned char>(bytes[i]);
  if (bytes.size() != 4 + length) return std::nullopt;
  return std::string(bytes.substr(4));
}

}  // namespace quorvi::test
