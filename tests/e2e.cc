#include "e2e.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "cli/mcp/json.h"
#include "standin.h"

extern char** environ;

namespace quorvi::test {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal: its far end, kept here, and the name by which a child opens its near end.
struct Terminal {
  int far = -1;
  std::string name;
};

Terminal open_terminal() {
  int far = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (far < 0 || ::grantpt(far) != 0 || ::unlockpt(far) != 0)
    throw std::runtime_error("no pseudo-terminal");
  return {far, ::ptsname(far)};
}

// Appends what the far end of a terminal holds now, without waiting.
void drain(int far, std::string& bytes) {
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(far, buffer, sizeof buffer)) > 0)
    bytes.append(buffer, static_cast<size_t>(got));
}

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> result(words.size() + 1);  // ends with a null pointer
  std::ranges::transform(words, result.begin(), [](std::string& word) { return word.data(); });
  return result;
}

}  // namespace

// Standard input, output and error are files in a private directory, so that nothing waits on
// a pipe, not even for a process the child left behind.
Result run(const Command& command) {
  TempDir io;
  std::string in = io / "in", out = io / "out", err = io / "err";
  write_file(in, command.input);
  std::vector<std::string> args{command.program.empty() ? quorvi_exe() : command.program}, env;
  args.insert(args.end(), command.args.begin(), command.args.end());
  for (char** entry = environ; *entry; ++entry) {
    std::string_view name(*entry, std::strcspn(*entry, "="));
    auto named = [&](const auto& change) { return change.first == name; };
    if (!name.starts_with("QUORVI_") && std::ranges::none_of(command.env, named))
      env.emplace_back(*entry);
  }
  for (const auto& [name, value] : command.env)
    if (value) env.push_back(name + "=" + *value);
  auto argv = pointers(args), envp = pointers(env);
  // The terminals' far ends stay here; their near ends are opened by name in the child.
  Terminal input, outputs[2];
  if (command.terminal_input_ms >= 0) input = open_terminal();
  if (command.terminal_output) {
    for (Terminal& output : outputs) {
      output = open_terminal();
      ::fcntl(output.far, F_SETFL, O_NONBLOCK);
    }
  }
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {  // only async-signal-safe calls from here on
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    ::dup2(::open(in.c_str(), O_RDONLY), 0);
    if (command.terminal_input_ms >= 0) {
      ::dup2(::open(input.name.c_str(), O_RDWR | O_NOCTTY), 0);
      termios mode{};
      ::tcgetattr(0, &mode);
      mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);  // nobody reads the echo
      ::tcsetattr(0, TCSANOW, &mode);
      ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
    }
    for (int fd = 1; command.terminal_output && fd <= 2; ++fd) {
      ::dup2(::open(outputs[fd - 1].name.c_str(), O_RDWR | O_NOCTTY), fd);
      termios mode{};
      ::tcgetattr(fd, &mode);
      ::cfmakeraw(&mode);
      ::tcsetattr(fd, TCSANOW, &mode);
    }
    int lost[2];  // a pipe whose reader is gone
    if (command.close_stdout && ::pipe(lost) == 0) ::dup2(lost[1], 1), ::close(lost[0]);
    ::closefrom(3);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  auto elapsed_ms = [&] { return (std::chrono::steady_clock::now() - start) / 1ms; };
  int status = 0;
  rusage used{};
  bool input_sent = false;
  std::string shown[2];  // what reached the terminals of standard output and error
  auto read_terminals = [&] {
    for (int i = 0; command.terminal_output && i < 2; ++i)
      drain(outputs[i].far, shown[i]);
  };
  for (; ::wait4(pid, &status, WNOHANG, &used) == 0; ::usleep(2000)) {
    read_terminals();
    if (elapsed_ms() > 60000) ::kill(pid, SIGKILL);
    if (input.far >= 0 && !input_sent &&
        (sleeping("/proc/" + std::to_string(pid) + "/stat") ||
         elapsed_ms() >= command.terminal_input_ms)) {
      std::string late = command.input + "\x04";  // VEOF, at the start of a line
      input_sent = ::write(input.far, late.data(), late.size()) == ssize_t(late.size());
      if (!input_sent) ::kill(pid, SIGKILL);
    }
  }
  read_terminals();
  for (const Terminal& opened : {input, outputs[0], outputs[1]})
    if (opened.far >= 0) ::close(opened.far);
  auto ms = [](timeval time) { return static_cast<int>(time.tv_sec * 1000 + time.tv_usec / 1000); };
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          command.terminal_output ? shown[0] : read_file(out),
          command.terminal_output ? shown[1] : read_file(err), static_cast<int>(elapsed_ms()),
          ms(used.ru_utime) + ms(used.ru_stime)};
}

Result request(const std::string& dir, const std::string& operation, const std::string& arguments,
               Env env, const std::string& program) {
  if (!dir.empty()) env.emplace_back("QUORVI_BRIDGE_DIR", dir);
  return run({.args = {"request", operation, arguments}, .env = env, .program = program});
}

Result shell(const std::string& line, std::vector<std::string> args, Env env,
             const std::string& input) {
  args.insert(args.begin(), {"-c", line, quorvi_exe()});
  return run({.args = args, .env = env, .input = input, .program = "/bin/bash"});
}

StandinApp::StandinApp(std::string dir, std::vector<std::string> extra) : dir_(std::move(dir)) {
  for (size_t i = 0; i + 1 < extra.size(); ++i)
    if (extra[i] == "--record") record_path_ = extra[i + 1];
  std::vector<std::string> words{standin_app_exe(), dir_};
  words.insert(words.end(), extra.begin(), extra.end());
  auto argv = pointers(words);
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
  wait_until([&] { return std::filesystem::exists(file) || !running(); }, 10000);
  if (auto content = mcp::parse(read_file(file)); content && (*content)->is_object())
    token_ = (*content)->value("token", "");
  if (token_.empty()) stop(), throw std::runtime_error("the stand-in app did not publish " + file);
}

std::string StandinApp::recorded(size_t count) const {
  std::vector<std::string> lines;
  for (int waited = 0; lines.size() < count && waited <= 5000; waited += 10, ::usleep(10000)) {
    std::istringstream text(read_file(record_path_));  // none without --record
    lines.clear();
    for (std::string line; std::getline(text, line) && !text.eof();)  // whole lines only
      lines.push_back(line);
  }
  return lines.size() < count ? "<" + std::to_string(lines.size()) + " recorded>"
                              : lines[count - 1];
}

bool StandinApp::running() {
  exited_ = exited_ || ::waitpid(pid_, nullptr, WNOHANG) != 0;
  return !exited_;
}

void StandinApp::stop() {
  if (running()) ::kill(pid_, SIGTERM);
  if (!wait_until([&] { return !running(); }, 5000)) ::kill(pid_, SIGKILL);
  if (running()) ::waitpid(pid_, nullptr, 0);
}

}  // namespace quorvi::test
