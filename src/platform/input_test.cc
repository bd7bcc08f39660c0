#include "platform/input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "platform/fd.h"
#include "platform/io.h"

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
    // Standard input may come non-blocking, and its bytes late.
    ::fcntl(reader.get(), F_SETFL, O_NONBLOCK);
    std::thread late([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      write_all(writer.get(), written);
      writer.reset();
    });
    EXPECT_EQ(describe(read_at_most(reader.get(), 10)), expected);
    late.join();
    char rest[64];
    EXPECT_EQ(read_some(reader.get(), rest, sizeof rest), left) << written;
  }
  EXPECT_EQ(describe(read_at_most(-1, 10)), "unreadable");
}

TEST(InputTest, ReadsOnlyRegularFilesAndNamedPipes) {
  std::string dir = (std::filesystem::temp_directory_path() / "quorvi-input-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
  Fd file(::open((dir + "/file").c_str(), O_WRONLY | O_CREAT, 0600));
  ASSERT_TRUE(write_all(file.get(), "{}"));
  // Opening a named pipe waits for its writer.
  std::thread writer([&] {
    Fd fifo(::open((dir + "/fifo").c_str(), O_WRONLY));
    write_all(fifo.get(), "[]");
  });
  const std::pair<std::string, std::string> rows[] = {
      {dir + "/file", "bytes {}"},     {dir + "/fifo", "bytes []"},
      {dir, "not_file_or_pipe"},       {"/dev/null", "not_file_or_pipe"},
      {dir + "/none", "no_such_file"}, {dir + "/file/x", "no_such_file"}};
  for (const auto& [path, expected] : rows)
    EXPECT_EQ(describe(read_file_at_most(path, 10)), expected) << path;
  writer.join();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvi
