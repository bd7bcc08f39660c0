#include "options.h"

#include <gtest/gtest.h>

namespace quorvi::standin {
namespace {

TEST(StandinOptions, ReadsEveryOption) {
  auto parsed =
      parse_options({"--fault", "no-read", "dir", "--delay-ms", "5", "--record", "r", "--pid-file",
                     "p", "--start-delay-ms", "7", "--token", "t", "--socket-name", "q-a.sock"});
  ASSERT_FALSE(failed(parsed));
  const Options& options = value_of(parsed);
  EXPECT_EQ(options.dir, "dir");
  EXPECT_EQ(options.fault, Fault::no_read);
  EXPECT_EQ(options.delay_ms, 5);
  EXPECT_EQ(options.record, "r");
  EXPECT_EQ(options.pid_file, "p");
  EXPECT_EQ(options.start_delay_ms, 7);
  EXPECT_EQ(options.token, "t");
  EXPECT_EQ(options.socket_name, "q-a.sock");
}

TEST(StandinOptions, RefusesBadLines) {
  std::vector<std::vector<std::string>> lines = {
      {},
      {"--fault", "close"},
      {"a", "b"},
      {"a", "--fault"},
      {"a", "--fault", "Close"},
      {"a", "--delay-ms", "1x"},
      {"a", "--delay-ms", "3600001"},
      {"a", "--socket-name", "x/q-a.sock"},
      {"a", "--verbose", "1"},
  };
  for (const auto& line : lines)
    EXPECT_TRUE(failed(parse_options(line)));
}

TEST(StandinOptions, DelayFaultWaitsEvenWithoutAnAmount) {
  Options options;
  EXPECT_EQ(answer_delay_ms(options), 0);
  options.fault = Fault::delay;
  EXPECT_EQ(answer_delay_ms(options), 1000);
  options.delay_ms = 20;
  EXPECT_EQ(answer_delay_ms(options), 20);
}

}  // namespace
}  // namespace quorvi::standin
