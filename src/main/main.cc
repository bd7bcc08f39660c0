// Process entry: the broken-pipe signal is ignored so that a closed reader makes a write fail
// with an error instead of ending the process.
#include <signal.h>

#include <string>
#include <vector>

#include "main/dispatch.h"

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return quorvi::dispatch(args);
}
