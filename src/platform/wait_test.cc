#include "platform/wait.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "platform/fd.h"
#include "platform/io.h"
#include "temp_dir.h"

namespace quorvi {
namespace {

using WaitCall = bool (*)(int, Waiting);

// A terminal and its writer: the far end of a pseudo-terminal in raw mode, so that bytes pass
// as written.
struct Terminal {
  Fd reader, writer;
};

Terminal open_terminal() {
  Fd master(::posix_openpt(O_RDWR | O_NOCTTY));
  if (!master.valid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) return {};
  Fd terminal(::open(::ptsname(master.get()), O_RDWR | O_NOCTTY));
  termios raw{};
  if (!terminal.valid() || ::tcgetattr(terminal.get(), &raw) != 0) return {};
  ::cfmakeraw(&raw);
  if (::tcsetattr(terminal.get(), TCSANOW, &raw) != 0) return {};
  return {std::move(terminal), std::move(master)};
}

// Both ways of waiting on a non-blocking terminal (a pipe is waited on by poll when input is
// read, and tested there): a read waits for late bytes, and then finds them; a descriptor that
// is not open cannot be waited on.
TEST(WaitTest, WaitsForLateBytesOnATerminal) {
  const std::pair<const char*, WaitCall> ways[] = {{"poll", poll_ready}, {"select", select_ready}};
  for (const auto& [way, wait] : ways) {
    Terminal ends = open_terminal();
    ASSERT_TRUE(ends.reader.valid());
    ::fcntl(ends.reader.get(), F_SETFL, O_NONBLOCK);
    {
      std::jthread late = test::when_blocked([&] { (void)write_all(ends.writer.get(), "late"); });
      EXPECT_TRUE(wait(ends.reader.get(), Waiting::kRead)) << way;
    }
    char bytes[8];
    EXPECT_EQ(::read(ends.reader.get(), bytes, sizeof bytes), 4) << way;
    int closed = ends.reader.get();
    ends.reader.reset();
    EXPECT_FALSE(wait(closed, Waiting::kRead)) << way;
  }
}

// A pipe whose reader is gone: poll says so, select lets the write tell; neither blocks.
TEST(WaitTest, WriterWithoutReaderDoesNotBlock) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd reader(ends[0]), writer(ends[1]);
  reader.reset();
  EXPECT_FALSE(poll_ready(writer.get(), Waiting::kWrite));
  EXPECT_TRUE(select_ready(writer.get(), Waiting::kWrite));
}

// A named pipe's writer, which comes late, writing or not, waited for by a second open; and a
// path that names something else by the time of that open. (The other way, poll, is what
// reading a named pipe uses here, and its tests wait for late writers through it.) The writer
// stays until the second open is over, so that it cannot come and go before it.
TEST(WaitTest, WaitsForANamedPipesWriter) {
  test::TempDir dir;
  std::string path = dir / "fifo";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  for (std::string written : {"[]", ""}) {
    Fd fifo(::open(path.c_str(), O_RDONLY | O_NONBLOCK)), writer;
    {
      std::jthread late = test::when_blocked([&] {
        writer.reset(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // a reader is there: no wait
        (void)write_all(writer.get(), written);
      });
      EXPECT_TRUE(reopen_for_writer(fifo, path)) << written;
    }
    writer.reset();
    char bytes[8];
    EXPECT_EQ(::read(fifo.get(), bytes, sizeof bytes), ssize_t(written.size())) << written;
  }
  Fd fifo(::open(path.c_str(), O_RDONLY | O_NONBLOCK));
  Fd(::open((dir / "file").c_str(), O_WRONLY | O_CREAT, 0600));
  ASSERT_EQ(::rename((dir / "file").c_str(), path.c_str()), 0);
  EXPECT_FALSE(reopen_for_writer(fifo, path));
}

}  // namespace
}  // namespace quorvi
