#include "platform/io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/fd.h"

namespace quorvi {
namespace {

TEST(IoTest, WriteAllWaitsOnANonBlockingPipe) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd reader(ends[0]), writer(ends[1]);
  ::fcntl(writer.get(), F_SETFL, O_NONBLOCK);
  // Far more than a pipe holds, so the writer meets EAGAIN and must wait for the reader.
  const std::string bytes(4 << 20, 'x');
  std::string received;
  std::thread drain([&] {
    char buffer[65536];
    ssize_t got;
    while ((got = read_some(reader.get(), buffer, sizeof buffer)) > 0)
      received.append(buffer, got);
  });
  EXPECT_TRUE(write_all(writer.get(), bytes));
  writer.reset();
  drain.join();
  EXPECT_EQ(received.size(), bytes.size());
}

TEST(IoTest, WriteAllFailsWhenTheReaderIsGone) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd writer(ends[1]);
  ::close(ends[0]);
  ::fcntl(writer.get(), F_SETFL, O_NONBLOCK);
  // As in quorvi itself, a closed reader must give an error, not end the process.
  auto previous = ::signal(SIGPIPE, SIG_IGN);
  EXPECT_FALSE(write_all(writer.get(), "x"));
  ::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace quorvi
