// One connection: read the request frame, record it, and answer it normally or the way the
// chosen fault mode says.
#pragma once

#include <string>

#include "options.h"
#include "platform/fd.h"
#include "store.h"

namespace quorvi::standin {

struct Service {
  const Options& options;
  Store& store;
  const std::string& token;
  int record_fd = -1;  // --record file, or -1
};

void serve_connection(Fd connection, Service& service);

}  // namespace quorvi::standin
