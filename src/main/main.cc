// Process entry: the broken-pipe signal is ignored so that a closed reader makes a write fail
// with an error instead of ending the process. The child-ended signal gets its default action
// back: ignored, as a parent may leave it, children are reaped at once and waiting for one
// fails, so a URL handed over would be reported as not opened.
#include <signal.h>

#include <string>
#include <vector>

#include "main/dispatch.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGCHLD, SIG_DFL);
  quorvi::hold_missing_standard_streams();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return quorvi::dispatch(args);
}
