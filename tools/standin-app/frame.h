// One length-prefixed frame each way: a 4-byte big-endian length, then the body. Connections
// are non-blocking; every wait also watches for a stop signal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvi::standin {

inline constexpr uint32_t kMaxRequest = 1048576;
inline constexpr uint32_t kMaxResponse = 8388608;

// A peer that goes quiet this long mid-frame is given up on, so one stuck client cannot keep
// the app from serving the next.
inline constexpr int kIdleMs = 30000;

enum class Read { kOk, kNoFrame, kBadSize, kStopped };

struct Request {
  Read status = Read::kNoFrame;
  std::string body;
};

// Reads one request frame. `kNoFrame`: the peer closed, failed or went idle before a whole
// frame; `kBadSize`: it announced 0 or more than 1 MiB.
Request read_request(int fd);

// Writes every byte; false when the peer is gone, goes idle, or a stop arrives.
[[nodiscard]] bool send_all(int fd, std::string_view bytes);

std::string length_prefix(uint32_t length);
std::string frame(std::string_view body);

}  // namespace quorvi::standin
