#include "platform/input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <tuple>

#include "platform/fd.h"
#include "platform/io.h"
#include "temp_dir.h"

// The path whose next open first replaces it with a symlink to a device, as someone might between
// a check and the open; and the flags that open was made with.
// Plain data, ready before any initialiser of another file opens something.
namespace {
char swapped_before_open[256];
int swapped_open_flags = -1;
}  // namespace

// Every open of this test program passes through here.
extern "C" int open(const char* path, int flags, ...) {
  int mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list rest;
    va_start(rest, flags);
    mode = va_arg(rest, int);
    va_end(rest);
  }
  if (swapped_before_open[0] != '\0' && std::strcmp(swapped_before_open, path) == 0) {
    swapped_before_open[0] = '\0';
    if (::unlink(path) != 0 || ::symlink("/dev/null", path) != 0) return -1;
    swapped_open_flags = flags;
  }
  return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

namespace quorvi {
namespace {

std::string describe(const InputRead& read) {
  if (const auto* bytes = std::get_if<std::string>(&read)) return "bytes " + *bytes;
  static const char* const kNames[] = {"no_such_file", "unreadable", "not_file_or_pipe",
                                       "too_large"};
  return kNames[static_cast<int>(std::get<InputFault>(read))];
}

TEST(InputTest, ReadsAtMostOneByteBeyondTheLimit) {
  // Written, read, and the bytes the reader must leave in the pipe.
  const std::tuple<std::string, std::string, ssize_t> rows[] = {
      {"", "bytes ", 0},
      {"0123456789", "bytes 0123456789", 0},
      {"0123456789abcdef", "too_large", 5}};
  for (const auto& [written, expected, left] : rows) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    Fd reader(ends[0]), writer(ends[1]);
    ASSERT_TRUE(write_all(writer.get(), written));
    writer.reset();
    EXPECT_EQ(describe(read_at_most(reader.get(), 10)), expected);
    char rest[64];
    EXPECT_EQ(read_some(reader.get(), rest, sizeof rest), left) << written;
  }
  EXPECT_EQ(describe(read_at_most(-1, 10)), "unreadable");
}

TEST(InputTest, ReadsOnlyRegularFilesAndNamedPipes) {
  test::TempDir temp;
  const std::string& dir = temp.path();
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
  Fd file(::open((dir + "/file").c_str(), O_WRONLY | O_CREAT, 0600));
  ASSERT_TRUE(write_all(file.get(), "{}"));
  Fd listener(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (dir + "/socket").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::pair<std::string, std::string> rows[] = {
      {dir + "/file", "bytes {}"},       {dir, "not_file_or_pipe"},
      {"/dev/null", "not_file_or_pipe"}, {dir + "/socket", "not_file_or_pipe"},
      {dir + "/none", "no_such_file"},   {dir + "/file/x", "no_such_file"}};
  for (const auto& [path, expected] : rows)
    EXPECT_EQ(describe(read_file_at_most(path, 10)), expected) << path;

  // A named pipe is read once its writer comes late, even one that writes nothing: opened
  // without blocking, it is waited for and read as standard input may come, non-blocking and
  // late. The writer opens without blocking too, which succeeds once the reader has opened, and
  // never waits on one that gave up.
  for (std::string written : {"[]", ""}) {
    std::jthread late = test::when_blocked([&] {
      Fd fifo;
      for (int ms = 0; !fifo.valid() && ms < 10000; ++ms, ::usleep(1000))
        fifo.reset(::open((dir + "/fifo").c_str(), O_WRONLY | O_NONBLOCK));
      (void)write_all(fifo.get(), written);
    });
    EXPECT_EQ(describe(read_file_at_most(dir + "/fifo", 10)), "bytes " + written);
  }

  // Replaced by a device at the last moment: what was opened decides, and the device was
  // opened only without waiting and without becoming the controlling terminal.
  std::snprintf(swapped_before_open, sizeof swapped_before_open, "%s/file", dir.c_str());
  EXPECT_EQ(describe(read_file_at_most(dir + "/file", 10)), "not_file_or_pipe");
  EXPECT_EQ(swapped_open_flags & (O_NONBLOCK | O_NOCTTY), O_NONBLOCK | O_NOCTTY);
}

}  // namespace
}  // namespace quorvi
