#include "serve.h"

#include <fcntl.h>

#include <fstream>
#include <iterator>

#include "frame.h"
#include "platform/io.h"
#include "stop.h"

namespace quorvi::standin {
namespace {

void record(const Service& service, std::string_view line) {
  if (service.record_fd < 0) return;
  std::string bytes(line);
  bytes += '\n';
  // One write per line, so that a reader never sees half a line from us.
  [[maybe_unused]] bool ignored = write_all(service.record_fd, bytes);
}

// Holds the connection without reading until the peer hangs up or the app is stopped. With no
// events asked for, poll still reports the hang-up, and data left unread does not wake it.
void hold(int fd) {
  wait_for(fd, 0, -1);
}

std::string normal_body(Service& service, const std::string& request) {
  return mcp::write(answer(service.store, request, service.token));
}

// The bytes that go back for a request, or nothing for the modes that send nothing.
std::string response(Service& service, const std::string& request) {
  if (service.options.answer) {
    std::ifstream file(*service.options.answer, std::ios::binary);
    std::string body((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return frame(body);
  }
  switch (service.options.fault) {
    case Fault::kPartial:
      // Announces 100 bytes and delivers 40 of them.
      return length_prefix(100) + R"({"result":"partial response padding.....")";
    case Fault::kZeroLength: return length_prefix(0);
    case Fault::kOversize: return length_prefix(kMaxResponse + 1);
    case Fault::kNotJson: return frame("this is not JSON");
    case Fault::kInvalidUtf8: return frame("{\"result\":\"bad \xC3\x28 byte\"}");
    case Fault::kErrorNull: return frame(R"({"error":null,"result":42})");
    case Fault::kTrailing:
      return frame(normal_body(service, request)) + "extra bytes after the frame";
    case Fault::kMaxSize: {
      std::string body = normal_body(service, request);
      if (body.size() > kMaxResponse) body = R"({"error":"Response too large"})";
      body.resize(kMaxResponse, ' ');
      return frame(body);
    }
    default: return frame(normal_body(service, request));
  }
}

}  // namespace

void serve_connection(Fd connection, Service& service) {
  int fd = connection.get();
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
    return;
  }
  Fault fault = service.options.fault;
  if (fault == Fault::kNoRead) return hold(fd);

  Request request = read_request(fd);
  if (request.status == Read::kStopped) return;
  if (request.status != Read::kOk) {
    record(service, "<no request>");
    if (request.status == Read::kBadSize) {
      (void)send_all(fd, frame(R"({"error":"Invalid request size"})"));
    }
    return;
  }
  record(service, request.body);

  int delay = answer_delay_ms(service.options);
  if (delay > 0 && wait_for(-1, 0, delay) == Wake::kStop) return;
  if (fault == Fault::kClose) return;
  if (fault == Fault::kHang) return hold(fd);
  // A client that went away misses its answer; the next connection is served all the same.
  (void)send_all(fd, response(service, request.body));
}

}  // namespace quorvi::standin
