#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "platform/spawn_inheritance.h"

extern char** environ;

namespace quorvi {
namespace {

// The spawn attributes and file actions, each destroyed once by its owner.
struct SpawnAttributes {
  posix_spawnattr_t value;
  bool ready = ::posix_spawnattr_init(&value) == 0;
  SpawnAttributes() = default;
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() {
    if (ready) ::posix_spawnattr_destroy(&value);
  }
};

struct SpawnActions {
  posix_spawn_file_actions_t value;
  bool ready = ::posix_spawn_file_actions_init(&value) == 0;
  SpawnActions() = default;
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() {
    if (ready) ::posix_spawn_file_actions_destroy(&value);
  }
};

// This process ignores the broken-pipe signal, and an ignored signal stays ignored across exec;
// the child gets the default action back. A signal mask is inherited too, and whoever started
// us may have blocked signals: the child starts with none blocked. sigemptyset and sigaddset are
// macros on macOS, so they are called unqualified.
bool clean_signals(SpawnAttributes& attributes, short flags) {
  sigset_t reset, unblocked;
  flags |= POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  return attributes.ready && sigemptyset(&reset) == 0 && sigaddset(&reset, SIGPIPE) == 0 &&
         ::posix_spawnattr_setsigdefault(&attributes.value, &reset) == 0 &&
         sigemptyset(&unblocked) == 0 &&
         ::posix_spawnattr_setsigmask(&attributes.value, &unblocked) == 0 &&
         ::posix_spawnattr_setflags(&attributes.value, flags) == 0;
}

bool redirect(SpawnActions& actions, ChildOutput output) {
  if (!actions.ready) return false;
  if (output == ChildOutput::kInherit) return true;
  // Standard input too: in mcp-server it is the MCP client's stream, which no child may read.
  return ::posix_spawn_file_actions_addopen(&actions.value, 0, "/dev/null", O_RDONLY, 0) == 0 &&
         ::posix_spawn_file_actions_addopen(&actions.value, 1, "/dev/null", O_WRONLY, 0) == 0 &&
         ::posix_spawn_file_actions_adddup2(&actions.value, 1, 2) == 0;
}

}  // namespace

std::optional<int> run_and_wait(const char* path, const std::vector<std::string>& args,
                                ChildOutput output) {
  SpawnAttributes attributes;
  SpawnActions actions;
  short flags = 0;
  if (!redirect(actions, output) ||
      !inherit_standard_only(actions.value, output == ChildOutput::kNullDevice, flags) ||
      !clean_signals(attributes, flags)) {
    return std::nullopt;
  }

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // posix_spawn, not posix_spawnp: the path is used as given, never searched for.
  pid_t child = 0;
  if (::posix_spawn(&child, path, &actions.value, &attributes.value, argv.data(), environ) != 0) {
    return std::nullopt;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace quorvi
