#include "cli/mcp/bridge.h"

#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstring>

#include "base/console.h"
#include "base/utf8.h"
#include "cli/mcp/discovery.h"
#include "cli/mcp/scope.h"
#include "platform/exe_path.h"
#include "platform/io.h"
#include "platform/opener.h"
#include "platform/socket.h"

namespace quorvi::mcp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kDefaultApp[] = "/Applications/Quorvi.app";
constexpr int kConnectAttempts = 50;
constexpr std::chrono::milliseconds kAttemptGap{100};
// The whole connect-and-retry phase: the gaps between the attempts and a margin for the
// attempts themselves. The opener's run is not counted.
constexpr auto kConnectPhase = kConnectAttempts * kAttemptGap + std::chrono::milliseconds(500);

constexpr char kSendFailed[] = "Connector request failed; check the note before retrying changes";
constexpr char kNoResponse[] = "Connector response failed; check the note before retrying changes";

// Drops the last path component and the separators before it; false when there is none.
bool go_up(std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return false;
  size_t end = path.find_last_not_of('/', slash);
  path.resize(end == std::string::npos ? 1 : end + 1);
  return true;
}

bool has_app_extension(const std::string& path) {
  size_t name = path.find_last_of('/');
  name = name == std::string::npos ? 0 : name + 1;
  size_t dot = path.find_last_of('.');
  return dot != std::string::npos && dot > name &&
         path.compare(dot, std::string::npos, ".app") == 0;
}

std::string app_path() {
  if (const char* chosen = ::getenv("QUORVI_APP_PATH")) return chosen;
  return app_bundle_path(executable_path());
}

// The time since `start`, for the trace.
std::string since(Clock::time_point start) {
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return std::to_string(elapsed.count()) + " ms";
}

// Sleeps the whole interval, resuming with the remaining time when a signal cuts it short.
void pause_between_attempts() {
  struct timespec left {
    0, std::chrono::nanoseconds(kAttemptGap).count()
  };
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Connects, launching the app once and retrying when no connector answers. The phase has one
// deadline, about five seconds of connecting: a connect waits for a connector whose queue of
// pending connections is full (Linux; macOS refuses it at once) only for the time left, and no
// attempt starts after it, so a hung app cannot hold every attempt for its whole send timeout.
[[nodiscard]] Outcome<Connection> connect_or_launch() {
  ConnectDeadline deadline = Clock::now() + kConnectPhase;
  auto candidates = directories();
  if (failed(candidates)) return failure_of(candidates);
  Outcome<Connection> connection = connect_any(value_of(candidates).directories, deadline);
  if (!failed(connection) || value_of(candidates).fixed) return connection;

  Clock::time_point launch = Clock::now();
  std::string app = app_path();
  std::optional<int> status = launch_in_background(app);
  if (tracing()) {
    trace("launch " + app + " through " + kOpenerPath + ": " +
          (status ? "exit status " + std::to_string(*status) : std::string("did not finish")) +
          " after " + since(launch));
  }
  deadline += Clock::now() - launch;
  for (int attempt = 0; attempt < kConnectAttempts && Clock::now() < deadline; ++attempt) {
    pause_between_attempts();
    if (tracing()) trace("retry " + std::to_string(attempt + 1) + " at " + since(launch));
    candidates = directories();
    if (failed(candidates)) return failure_of(candidates);
    connection = connect_any(value_of(candidates).directories, deadline);
    if (!failed(connection)) break;
  }
  return connection;
}

// The request as compact JSON: its four members written in their order, the arguments as they
// were given.
[[nodiscard]] Outcome<std::string> request_body(std::string_view operation, const Json& arguments,
                                                const std::string& token, const Json& scope) {
  // Our writer copies strings as they are, so text that is not UTF-8 must be stopped here.
  if (!valid_utf8(operation)) return fail("Invalid request");
  std::string body;
  body.reserve(128);
  body += "{\"arguments\":";
  write(arguments, body);
  body += ",\"operation\":";
  write_string(operation, body);
  body += ",\"scope\":";
  write(scope, body);
  body += ",\"token\":";
  write_string(token, body);
  body += '}';
  if (body.size() > kMaxRequestBody) return fail(kRequestTooLarge);
  return body;
}

bool send_all(int fd, std::string_view bytes) {
  return write_all(fd, bytes, send_no_sigpipe);
}

// One frame out: the length, then the body, each with its own loop. The sending side stays
// open; the app knows the end of the request from the length.
[[nodiscard]] bool send_frame(int fd, const std::string& body) {
  uint32_t length = static_cast<uint32_t>(body.size());
  char prefix[4] = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                    static_cast<char>(length >> 8), static_cast<char>(length)};
  return send_all(fd, std::string_view(prefix, 4)) && send_all(fd, body);
}

// One frame in. Bytes past the announced length are never read.
[[nodiscard]] Outcome<std::string> receive_frame(int fd) {
  unsigned char prefix[4];
  if (!read_exactly(fd, reinterpret_cast<char*>(prefix), 4)) return fail(kNoResponse);
  uint32_t length = uint32_t{prefix[0]} << 24 | uint32_t{prefix[1]} << 16 |
                    uint32_t{prefix[2]} << 8 | uint32_t{prefix[3]};
  if (length == 0 || length > kMaxResponseBody) return fail("Invalid connector response size");
  std::string body(length, '\0');
  if (!read_exactly(fd, body.data(), body.size())) return fail("Incomplete connector response");
  return body;
}

[[nodiscard]] Outcome<Request> prepare(std::string_view operation, Parsed arguments) {
  // Read before connecting: a scope that cannot be honoured is refused at once, with no app
  // launched and no wait.
  Outcome<Json> tags = scope();
  if (failed(tags)) return failure_of(tags);
  Outcome<Connection> connection = connect_or_launch();
  if (failed(connection)) return failure_of(connection);
  Outcome<std::string> body =
      request_body(operation, *arguments, value_of(connection).token, value_of(tags));
  if (failed(body)) return failure_of(body);
  return Request{std::move(value_of(connection).socket), std::move(value_of(body))};
}

[[nodiscard]] ConnectorResult exchange(Request request) {
  Clock::time_point start = Clock::now();
  if (!send_frame(request.socket.get(), request.body)) {
    if (tracing()) trace(std::string("send: ") + std::strerror(errno));
    return fail(kSendFailed);
  }
  if (tracing()) trace("sent a request of " + std::to_string(request.body.size()) + " bytes");
  request.body = std::string();
  Outcome<std::string> response = receive_frame(request.socket.get());
  request.socket.reset();
  if (failed(response)) {
    if (tracing()) trace("receive: " + message_of(response) + " after " + since(start));
    return failure_of(response);
  }
  if (tracing()) {
    trace("received an answer of " + std::to_string(value_of(response).size()) + " bytes after " +
          since(start));
  }
  return read_answer(std::move(value_of(response)));
}

}  // namespace

std::string app_bundle_path(const std::optional<std::string>& executable) {
  if (!executable) return kDefaultApp;
  std::string path = *executable;
  for (int level = 0; level < 3; ++level) {
    if (!go_up(path)) return kDefaultApp;
  }
  return has_app_extension(path) ? path : kDefaultApp;
}

const Connector bridge = {prepare, exchange};

}  // namespace quorvi::mcp
