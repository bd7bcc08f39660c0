// The stand-in app as a development server: its help, its ready line, its refusal of a second
// instance, and what it removes when it ends.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <thread>

#include "e2e.h"
#include "standin.h"

namespace quorvi::test {
namespace {

TEST(StandinAppServer, HelpsSaysWhenReadyAndRefusesASecondInstance) {
  TempDir temp;
  std::string dir = temp / "Automation", file = dir + "/connection.json";
  Command standin{.args = {dir, "--pid-file", temp / "pid"}, .program = standin_app_exe()};
  Result help = run({.args = {"--help"}, .program = standin_app_exe()}), first;
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: quorvi-standin-app DIR", 0), 0u) << help.out;
  std::thread serving([&] { first = run(standin); });
  wait_until([&] { return std::filesystem::exists(file); }, 10000);
  std::string published = read_file(file), pid = read_file(temp / "pid");
  Result second = run(standin);
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "quorvi-standin-app: another stand-in app already serves " + dir + "\n");
  EXPECT_EQ(read_file(file) + read_file(temp / "pid"), published + pid);

  // On exit the first removes only what it made and still finds in place.
  write_file(temp / "other.json", "{}");
  std::filesystem::rename(temp / "other.json", file);
  ::kill(std::stoi(pid), SIGTERM);
  serving.join();
  EXPECT_EQ(first.status, 0);
  // The socket's name is random: q-, letters and digits, .sock.
  const std::string listening =
      "quorvi-standin-app: listening on " + dir + "/q-+([A-Za-z0-9]).sock\n";
  EXPECT_EQ(::fnmatch(listening.c_str(), first.err.c_str(), FNM_EXTMATCH), 0) << first.err;
  EXPECT_EQ(read_file(file), "{}");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

}  // namespace
}  // namespace quorvi::test
