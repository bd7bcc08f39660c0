// The Automation directory with its listening socket and connection.json, the way the app
// publishes its connector.
#pragma once

#include <sys/types.h>

#include <string>

#include "base/outcome.h"
#include "options.h"
#include "platform/fd.h"

namespace quorvi::standin {

// Which file a path named when this app made it.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
};

// Owns what it created on disk: the destructor removes connection.json, the socket and, when it
// made it, the directory, each only while the path still names what this app made.
struct Rendezvous {
  Rendezvous() = default;
  Rendezvous(const Rendezvous&) = delete;
  Rendezvous& operator=(const Rendezvous&) = delete;
  ~Rendezvous();

  std::string dir;
  bool created_dir = false;
  std::string socket_path;  // set once the socket is bound
  std::string file_path;    // set once connection.json is in place
  std::string token;
  FileId dir_id, socket_id, file_id;
  // Each held open until the removal check, so that no new file can take its inode number
  // meanwhile: the directory (locked while this app serves it), connection.json, and the
  // listening socket, which holds its socket file.
  Fd lock;
  Fd file;
  Fd listener;
};

// Prepares the directory (0700), refuses it while another stand-in serves it, listens on a fresh
// socket (0600) and only then publishes connection.json (0600, written under a temporary name and
// renamed into place).
[[nodiscard]] Outcome<Ok> open_rendezvous(const Options& options, Rendezvous& into);

// Locks `dir` for as long as `lock` stays open, refusing when another stand-in holds it. The
// lock ends with the process however it ends, so a stand-in that was killed never blocks the
// next one, and locking the directory itself adds no file to it.
[[nodiscard]] Outcome<Ok> lock_directory(const std::string& dir, Fd& lock);

// `size` random ASCII letters and digits from /dev/urandom; empty on failure.
std::string random_text(size_t size);

inline constexpr size_t kTokenSize = 72;

}  // namespace quorvi::standin
