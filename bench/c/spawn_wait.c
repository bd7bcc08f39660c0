// Baseline for a callback-URL command: start a program by absolute path, wait for it, exit.
#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t child;
  if (posix_spawn(&child, argv[1], NULL, NULL, argv + 1, environ) != 0) return 1;
  int status;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  return 0;
}
