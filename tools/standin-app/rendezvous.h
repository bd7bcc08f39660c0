// The Automation directory with its listening socket and connection.json, the way the app
// publishes its connector.
#pragma once

#include <string>

#include "base/outcome.h"
#include "options.h"
#include "platform/fd.h"

namespace quorvi::standin {

// Owns what it created on disk: the destructor removes connection.json, the socket and, when it
// made it, the directory.
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
  Fd listener;
};

// Prepares the directory (0700), listens on a fresh socket (0600) and only then publishes
// connection.json (0600, written under a temporary name and renamed into place).
Outcome<Ok> open_rendezvous(const Options& options, Rendezvous& into);

// `size` random ASCII letters and digits from /dev/urandom; empty on failure.
std::string random_text(size_t size);

inline constexpr size_t kTokenSize = 72;

}  // namespace quorvi::standin
