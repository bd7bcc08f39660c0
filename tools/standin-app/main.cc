// quorvi-standin-app: a stand-in for the notes app's Desktop connector, for development, tests
// and the demo. See README.md beside this file.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "options.h"
#include "platform/fd.h"
#include "platform/io.h"
#include "rendezvous.h"
#include "serve.h"
#include "stop.h"
#include "store.h"

namespace quorvi::standin {
namespace {

int complain(const std::string& message) {
  ::fprintf(stderr, "quorvi-standin-app: %s\n", message.c_str());
  return 1;
}

int serve_until_stopped(const Options& options, const Fd& record) {
  Rendezvous rendezvous;
  auto opened = open_rendezvous(options, rendezvous);
  if (failed(opened)) return complain(message_of(opened));
  // Scripts wait for this line: connection.json is in place when it comes.
  (void)write_all(2, "quorvi-standin-app: listening on " + rendezvous.socket_path + "\n");
  Store store;
  Service service{options, store, rendezvous.token, record.get()};
  int listener = rendezvous.listener.get();
  while (wait_for(listener, POLLIN, -1) == Wake::kReady) {
    Fd connection(::accept(listener, nullptr, nullptr));
    if (connection.valid()) {
      serve_connection(std::move(connection), service);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
      wait_for(-1, 0, 10);  // out of descriptors or similar: do not spin
    }
  }
  return 0;  // stopped; the rendezvous removes itself
}

int run(const std::vector<std::string>& args) {
  auto parsed = parse_options(args);
  if (failed(parsed)) return complain(message_of(parsed) + "\n" + kUsage);
  const Options& options = value_of(parsed);
  if (options.help) return write_all(1, std::string(kUsage) + "\n\n" + kHelp) ? 0 : 1;
  if (!install_stop_handlers()) return complain(std::string("signals: ") + std::strerror(errno));
  ::umask(077);

  {
    // Refused before anything is written, so that a second start clobbers no --pid-file.
    Fd probe;
    struct stat info {};
    auto locked = ::stat(options.dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)
                      ? lock_directory(options.dir, probe)
                      : Outcome<Ok>(Ok{});
    if (failed(locked)) return complain(message_of(locked));
  }
  if (options.pid_file) {
    Fd file(::open(options.pid_file->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file.valid() || !write_all(file.get(), std::to_string(::getpid()) + "\n")) {
      return complain(*options.pid_file + ": " + std::strerror(errno));
    }
  }
  if (options.start_delay_ms > 0 && wait_for(-1, 0, options.start_delay_ms) == Wake::kStop) {
    return 0;
  }
  Fd record;
  if (options.record) {
    record.reset(::open(options.record->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!record.valid()) return complain(*options.record + ": " + std::strerror(errno));
  }
  return serve_until_stopped(options, record);
}

}  // namespace
}  // namespace quorvi::standin

int main(int argc, char** argv) {
  return quorvi::standin::run(std::vector<std::string>(argv + 1, argv + argc));
}
