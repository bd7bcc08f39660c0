#include "cli/mcp/discovery.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "cli/mcp/json.h"
#include "platform/io.h"
#include "platform/socket.h"

namespace quorvi::mcp {
namespace {

// The app's app-group container, the second place the app may keep its Automation directory.
constexpr char kGroupContainer[] = "9QVRK2N4TZ.group.quorvi";

constexpr size_t kMaxRendezvous = 4096;
constexpr size_t kTokenBytes = 72;
constexpr std::chrono::seconds kReceiveTimeout{15};
constexpr std::chrono::seconds kSendTimeout{5};

constexpr char kUnavailable[] = "Connector unavailable";
constexpr char kBadDiscoveryFile[] = "Invalid connector discovery file";
constexpr char kBadEndpoint[] = "Invalid connector endpoint";
constexpr char kBadAuthorization[] = "Invalid connector authorization";
constexpr char kNoDeadline[] = "Could not set connector deadline";

std::string join(const std::string& directory, std::string_view name) {
  if (directory.empty()) return std::string(name);
  std::string path = directory;
  if (!path.ends_with('/')) path += '/';
  path += name;
  return path;
}

bool exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

mode_t type_bits(EndpointKind kind) {
  switch (kind) {
    case EndpointKind::kDirectory: return S_IFDIR;
    case EndpointKind::kRegularFile: return S_IFREG;
    case EndpointKind::kSocket: return S_IFSOCK;
  }
  return 0;
}

const char* kind_name(mode_t type) {
  switch (type) {
    case S_IFDIR: return "a directory";
    case S_IFREG: return "a regular file";
    case S_IFSOCK: return "a socket";
    case S_IFLNK: return "a symlink";
    default: return "another kind of file";
  }
}

constexpr char kWantedOwner[] = "this user as its owner";

// The first rule, in their fixed order, that what a successful lstat or fstat found breaks: what
// was wanted instead. Nothing when it is private.
const char* broken_rule(const struct stat& info, EndpointKind kind) {
  if (S_ISLNK(info.st_mode)) return "no symlink";
  if ((info.st_mode & 077) != 0) {
    return kind == EndpointKind::kDirectory ? "no access for group and others (0700)"
                                            : "no access for group and others (0600)";
  }
  if (info.st_uid != ::geteuid()) return kWantedOwner;
  if ((info.st_mode & S_IFMT) != type_bits(kind)) return kind_name(type_bits(kind));
  return nullptr;
}

// What the trace shows of a checked path: its kind, mode and owner, and the verdict.
void trace_check(const char* step, const std::string& path, const struct stat& info,
                 const char* broken) {
  if (!tracing()) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  trace(step + (" " + path) + ": " + kind_name(info.st_mode & S_IFMT) + ", mode " + mode +
        ", owner " + std::to_string(info.st_uid) + ": " +
        (broken ? std::string("refused, wanted ") + broken +
                      (broken == kWantedOwner ? " (" + std::to_string(::geteuid()) + ")" : "")
                : "private"));
}

// `step` names, for the trace, how `info` was found: by path, or of the file once opened.
[[nodiscard]] Outcome<Ok> check_attributes(const char* step, const std::string& path,
                                           const struct stat& info, EndpointKind kind) {
  const char* broken = broken_rule(info, kind);
  trace_check(step, path, info, broken);
  if (broken) return fail(kBadPermissions);
  return Ok{};
}

// "." or ".." as the last component (trailing separators aside) names a directory through the
// one before it, which lstat follows even when it is a symlink.
bool ends_in_dot_or_dot_dot(std::string_view path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return false;
  path = path.substr(0, end + 1);
  size_t slash = path.find_last_of('/');
  std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return last == "." || last == "..";
}

// check_private, keeping in `info` what lstat found.
[[nodiscard]] Outcome<Ok> check_private_status(const std::string& path, EndpointKind kind,
                                               struct stat& info) {
  if (::lstat(path.c_str(), &info) != 0) {
    if (tracing()) trace("check " + path + ": " + std::strerror(errno));
    return fail(kConnectorOff);
  }
  if (ends_in_dot_or_dot_dot(path)) {
    trace("check " + path + ": refused, wanted no \".\" or \"..\" as its last component");
    return fail(kBadPermissions);
  }
  return check_attributes("check", path, info, kind);
}

bool endpoint_name_ok(std::string_view name) {
  if (name.size() < 2 || !name.starts_with("q-")) return false;
  if (name.size() < 5 || !name.ends_with(".sock")) return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// Reads the rendezvous file that was just checked by path. It is opened without following a
// symlink and without blocking (should a FIFO have taken its place), and the open file must be
// the very private regular file that was checked.
[[nodiscard]] Outcome<std::string> read_private_file(const std::string& path,
                                                     const struct stat& checked) {
  Fd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!file.valid()) {
    int error = errno;
    if (tracing()) trace("open " + path + ": " + std::strerror(error));
    return fail(error == ELOOP ? kBadPermissions : kUnavailable);
  }
  struct stat opened;
  if (::fstat(file.get(), &opened) != 0) return fail(kUnavailable);
  if (failed(check_attributes("open", path, opened, EndpointKind::kRegularFile))) {
    return fail(kBadPermissions);
  }
  if (opened.st_dev != checked.st_dev || opened.st_ino != checked.st_ino) {
    trace("open " + path + ": refused, wanted the file that was checked (it was replaced)");
    return fail(kBadPermissions);
  }
  // One byte past the limit is enough to know the file is too large.
  std::string bytes;
  if (!read_up_to(file.get(), kMaxRendezvous + 1, bytes)) {
    if (tracing()) trace("read " + path + ": " + std::strerror(errno));
    return fail(kUnavailable);
  }
  if (tracing()) trace("read " + path + ": " + std::to_string(bytes.size()) + " bytes");
  return bytes;
}

[[nodiscard]] bool set_timeout(int fd, int option, std::chrono::microseconds wait) {
  struct timeval limit {};
  limit.tv_sec = static_cast<time_t>(wait.count() / 1'000'000);
  limit.tv_usec = static_cast<suseconds_t>(wait.count() % 1'000'000);
  return ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit) == 0;
}

// How long a connect may wait: the send timeout, or less when the deadline is nearer. Never
// zero, which would mean no bound at all.
std::chrono::microseconds connect_wait(ConnectDeadline deadline) {
  std::chrono::microseconds wait = kSendTimeout;
  if (deadline != ConnectDeadline::max()) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    wait = std::clamp(left, std::chrono::microseconds(1000), wait);
  }
  return wait;
}

// connect() retried when a signal cuts short its wait (possible once a deadline is set); should
// the interrupted attempt have completed meanwhile, the retry finds the socket connected.
[[nodiscard]] bool connect_to(int fd, const struct sockaddr_un& address) {
  bool interrupted = false;
  while (::connect(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address) != 0) {
    if (interrupted && errno == EISCONN) return true;
    if (errno != EINTR) return false;
    interrupted = true;
  }
  return true;
}

[[nodiscard]] Outcome<Fd> connect_socket(const std::string& path, ConnectDeadline deadline) {
  if (path.size() > max_socket_path()) {
    if (tracing()) {
      trace("socket " + path + ": a path of " + std::to_string(path.size()) +
            " bytes, wanted at most " + std::to_string(max_socket_path()));
    }
    return fail(kConnectorOff);
  }
  Fd socket = unix_stream_socket();
  if (!socket.valid()) {
    if (tracing()) trace(std::string("socket: ") + std::strerror(errno));
    return fail(kConnectorOff);
  }
  // The send timeout also bounds the connect, which on Linux waits while the connector's queue
  // of pending connections is full (macOS refuses such a connect at once). A failure to set it
  // is reported only after the connect, in the order of the checks.
  bool connect_bounded = set_timeout(socket.get(), SO_SNDTIMEO, connect_wait(deadline));
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  if (!connect_to(socket.get(), address)) {
    if (tracing()) trace("connect " + path + ": " + std::strerror(errno));
    return fail(kConnectorOff);
  }
  if (!set_timeout(socket.get(), SO_RCVTIMEO, kReceiveTimeout) || !connect_bounded ||
      !set_timeout(socket.get(), SO_SNDTIMEO, kSendTimeout)) {
    if (tracing()) trace("connect " + path + ": deadlines not set: " + std::strerror(errno));
    return fail(kNoDeadline);
  }
  // The checks above were made by path, and any directory on that path may have changed since;
  // only the process that listens shows who really answers.
  std::optional<uid_t> peer = peer_uid(socket.get());
  if (tracing()) {
    trace("connect " + path + ": connected, listener's user " +
          (peer ? std::to_string(*peer) : std::string("unknown")) + ", wanted " +
          std::to_string(::geteuid()));
  }
  if (!peer || *peer != ::geteuid()) return fail(kBadPermissions);
  return socket;
}

[[nodiscard]] Outcome<Connection> connect_through(const std::string& directory,
                                                  ConnectDeadline deadline) {
  struct stat info;
  if (auto checked = check_private_status(directory, EndpointKind::kDirectory, info);
      failed(checked)) {
    return failure_of(checked);
  }
  std::string file = join(directory, "connection.json");
  if (auto checked = check_private_status(file, EndpointKind::kRegularFile, info);
      failed(checked)) {
    return failure_of(checked);
  }
  Outcome<std::string> bytes = read_private_file(file, info);
  if (failed(bytes)) return failure_of(bytes);
  Outcome<Rendezvous> rendezvous = read_rendezvous(value_of(bytes));
  if (failed(rendezvous)) {
    trace(file + ": refused: " + message_of(rendezvous));
    return failure_of(rendezvous);
  }
  std::string socket_path = join(directory, value_of(rendezvous).socket);
  if (auto checked = check_private(socket_path, EndpointKind::kSocket); failed(checked)) {
    return failure_of(checked);
  }
  Outcome<Fd> socket = connect_socket(socket_path, deadline);
  if (failed(socket)) return failure_of(socket);
  return Connection{std::move(value_of(socket)), std::move(value_of(rendezvous).token)};
}

}  // namespace

Outcome<Candidates> directories() {
  if (const char* fixed = ::getenv("QUORVI_BRIDGE_DIR")) {
    if (tracing())
      trace(std::string("candidate ") + fixed + ": named by QUORVI_BRIDGE_DIR, no launch");
    // With a trailing separator, lstat would follow a symlink in the last component.
    std::string directory = fixed;
    size_t end = directory.find_last_not_of('/');
    if (end != std::string::npos) {
      directory.resize(end + 1);
    } else if (!directory.empty()) {
      directory = "/";
    }
    return Candidates{{directory}, true};
  }
  const char* home = ::getenv("HOME");
  if (home == nullptr) {
    trace("neither QUORVI_BRIDGE_DIR nor HOME is set");
    return fail("Home directory unavailable");
  }
  std::string primary = join(home, "Library/Application Support/Quorvi/Automation");
  if (exists(primary)) {
    if (tracing()) trace("candidate " + primary + ": exists");
    return Candidates{{primary}};
  }
  std::string group =
      join(home, std::string("Library/Group Containers/") + kGroupContainer + "/Automation");
  if (tracing()) {
    trace("candidate " + primary + ": missing");
    trace("candidate " + group + (exists(group) ? ": exists" : ": missing"));
  }
  return Candidates{{primary, group}};
}

Outcome<Ok> check_private(const std::string& path, EndpointKind kind) {
  struct stat info;
  return check_private_status(path, kind, info);
}

Outcome<Rendezvous> read_rendezvous(std::string_view bytes) {
  if (bytes.size() > kMaxRendezvous) return fail(kBadDiscoveryFile);
  std::optional<Parsed> parsed = parse(bytes);
  if (!parsed) return fail(kBadDiscoveryFile);
  const Json* value = &**parsed;
  if (!value->is_object()) return fail(kBadEndpoint);
  auto socket = value->find("socket");
  if (socket == value->end() || !socket->is_string() ||
      !endpoint_name_ok(socket->get_ref<const std::string&>())) {
    return fail(kBadEndpoint);
  }
  auto token = value->find("token");
  if (token == value->end() || !token->is_string() ||
      token->get_ref<const std::string&>().size() != kTokenBytes) {
    return fail(kBadAuthorization);
  }
  return Rendezvous{socket->get<std::string>(), token->get<std::string>()};
}

Outcome<Connection> connect_any(const std::vector<std::string>& candidates,
                                ConnectDeadline deadline) {
  if (candidates.empty()) return fail(kConnectorOff);
  std::string kept;
  for (size_t i = 0; i < candidates.size(); ++i) {
    Outcome<Connection> connection = connect_through(candidates[i], deadline);
    if (!failed(connection)) return connection;
    // A later candidate's failure is shown only when that directory is really there.
    if (i == 0 || exists(candidates[i])) kept = message_of(connection);
  }
  return fail(kept);
}

}  // namespace quorvi::mcp
