// SIGTERM and SIGINT end the app cleanly. Every wait goes through wait_for(), which also watches
// a self-pipe written by the signal handler, so a signal is never lost between a check and a
// blocking call.
#pragma once

namespace quorvi::standin {

// Routes SIGTERM and SIGINT to the self-pipe and ignores SIGPIPE. False on failure.
[[nodiscard]] bool install_stop_handlers();

enum class Wake { kReady, kStop, kTimeout };

// Waits until `fd` reports one of `events` (or a hang-up or error), a stop signal arrives, or
// `timeout_ms` passes (-1: no limit). With `fd` -1 it only waits for a stop or the timeout.
// A stop wins over a ready descriptor.
Wake wait_for(int fd, short events, int timeout_ms);

}  // namespace quorvi::standin
