#include "platform/io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/fd.h"

namespace quorvi {
namespace {

// Pieces larger than a pipe holds, into a non-blocking pipe: each write takes part of them, and
// the reader still gets every byte once, in order.
TEST(IoTest, PiecesThroughPartialWrites) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd reader(ends[0]), writer(ends[1]);
  ASSERT_EQ(::fcntl(writer.get(), F_SETFL, O_NONBLOCK), 0);
  // Bytes that differ along each piece, so that a piece sent again from its start shows.
  std::string first(300000, '\0'), second = "b", third(200001, '\0');
  for (size_t i = 0; i < first.size(); ++i)
    first[i] = static_cast<char>(i % 251), third[i % third.size()] = static_cast<char>(i % 241);
  std::string got;
  std::thread read_all([&] {
    char buffer[4096];
    ssize_t size;
    while ((size = read_some(reader.get(), buffer, sizeof buffer)) > 0)
      got.append(buffer, static_cast<size_t>(size));
  });
  EXPECT_TRUE(write_pieces(writer.get(), {first, second, "", third}));
  writer.reset();  // the reader's end of input
  read_all.join();
  EXPECT_TRUE(got == first + second + third) << got.size() << " bytes";
}

}  // namespace
}  // namespace quorvi
