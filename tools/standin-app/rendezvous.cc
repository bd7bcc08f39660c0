#include "rendezvous.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "cli/mcp/json.h"
#include "platform/io.h"

namespace quorvi::standin {
namespace {

std::string failure(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

FileId id_of(const struct stat& info) {
  return {info.st_dev, info.st_ino};
}

// Removes `path` only while it is still the file this app made, so that nothing another
// process put in its place is lost.
void remove_if_same(const std::string& path, FileId made, int (*remove)(const char*)) {
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0) return;
  if (info.st_dev == made.device && info.st_ino == made.inode) remove(path.c_str());
}

// mkdir -p with owner-only modes; says whether the last component was made here.
[[nodiscard]] Outcome<bool> make_directory(const std::string& dir) {
  struct stat info {};
  if (::stat(dir.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) return fail(dir + " is not a directory");
    return false;
  }
  for (size_t slash = dir.find('/', 1); slash != std::string::npos;
       slash = dir.find('/', slash + 1)) {
    std::string prefix = dir.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return fail(failure(prefix));
  }
  if (::mkdir(dir.c_str(), 0700) != 0) return fail(failure(dir));
  return true;
}

[[nodiscard]] Outcome<Ok> listen_on(Rendezvous& into, const std::string& name, bool replace_stale) {
  std::string path = into.dir + "/" + name;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return fail("socket path too long: " + path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  struct stat info {};
  if (replace_stale && ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
    ::unlink(path.c_str());  // left behind by an app that was killed
  }
  Fd socket(::socket(AF_UNIX, SOCK_STREAM, 0));
  // Non-blocking, so that a connection that goes away between poll and accept cannot block us.
  if (!socket.valid() || ::fcntl(socket.get(), F_SETFD, FD_CLOEXEC) != 0 ||
      ::fcntl(socket.get(), F_SETFL, ::fcntl(socket.get(), F_GETFL) | O_NONBLOCK) != 0) {
    return fail(failure("socket"));
  }
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return fail(failure("bind " + path));
  }
  into.socket_path = path;
  if (::lstat(path.c_str(), &info) != 0) return fail(failure(path));
  into.socket_id = id_of(info);
  if (::chmod(path.c_str(), 0600) != 0) return fail(failure("chmod " + path));
  if (::listen(socket.get(), 16) != 0) return fail(failure("listen"));
  into.listener = std::move(socket);
  return Ok{};
}

[[nodiscard]] Outcome<Ok> publish(Rendezvous& into, const std::string& socket_name) {
  mcp::Json content = {{"socket", socket_name}, {"token", into.token}};
  std::string bytes = mcp::write(content);
  std::string temporary = into.dir + "/.connection.json.tmp";
  std::string final_path = into.dir + "/connection.json";
  ::unlink(temporary.c_str());
  Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!file.valid()) return fail(failure(temporary));
  struct stat info {};
  bool written = ::fchmod(file.get(), 0600) == 0 && write_all(file.get(), bytes) &&
                 ::fstat(file.get(), &info) == 0;
  if (!written || ::rename(temporary.c_str(), final_path.c_str()) != 0) {
    std::string message = failure("write " + final_path);
    ::unlink(temporary.c_str());
    return fail(message);
  }
  into.file_path = final_path;
  into.file_id = id_of(info);  // a rename keeps the file's identity
  into.file = std::move(file);
  return Ok{};
}

}  // namespace

Outcome<Ok> lock_directory(const std::string& dir, Fd& lock) {
  lock.reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!lock.valid()) return fail(failure(dir));
  while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return fail("another stand-in app already serves " + dir);
    if (errno != EINTR) return fail(failure("lock " + dir));
  }
  return Ok{};
}

Rendezvous::~Rendezvous() {
  remove_if_same(file_path, file_id, ::unlink);
  remove_if_same(socket_path, socket_id, ::unlink);
  if (created_dir) remove_if_same(dir, dir_id, ::rmdir);
}

std::string random_text(size_t size) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  constexpr unsigned kLetters = sizeof kAlphabet - 1;
  Fd source(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (!source.valid()) return {};
  std::string text;
  unsigned char buffer[256];
  while (text.size() < size) {
    ssize_t got = read_some(source.get(), reinterpret_cast<char*>(buffer), sizeof buffer);
    if (got <= 0) return {};
    for (ssize_t i = 0; i < got && text.size() < size; ++i) {
      // Bytes past the last whole multiple of the alphabet would favour its first letters.
      if (buffer[i] < 256 - 256 % kLetters) text += kAlphabet[buffer[i] % kLetters];
    }
  }
  return text;
}

Outcome<Ok> open_rendezvous(const Options& options, Rendezvous& into) {
  into.dir = options.dir;
  while (into.dir.size() > 1 && into.dir.back() == '/')
    into.dir.pop_back();
  auto created = make_directory(into.dir);
  if (failed(created)) return failure_of(created);
  into.created_dir = value_of(created);
  auto locked = lock_directory(into.dir, into.lock);
  if (failed(locked)) return locked;
  struct stat info {};
  if (::fstat(into.lock.get(), &info) != 0) return fail(failure(into.dir));
  into.dir_id = id_of(info);
  if (::chmod(into.dir.c_str(), 0700) != 0) return fail(failure("chmod " + into.dir));

  std::string name = options.socket_name ? *options.socket_name : "q-" + random_text(8) + ".sock";
  if (name == "q-.sock") return fail("no random source");
  auto listening = listen_on(into, name, options.socket_name.has_value());
  if (failed(listening)) return listening;

  into.token = options.token ? *options.token : random_text(kTokenSize);
  if (into.token.empty() && !options.token) return fail("no random source");
  return publish(into, name);
}

}  // namespace quorvi::standin
