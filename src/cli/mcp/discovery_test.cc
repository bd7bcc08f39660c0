#include "cli/mcp/discovery.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "cli/mcp/env_guard_test.h"
#include "temp_dir.h"

namespace quorvi::mcp {
namespace {

using test::TempDir;
using test::write_file;

const std::string kToken(72, 't');
constexpr char kBadEndpoint[] = "Invalid connector endpoint";
constexpr char kPrimary[] = "/Library/Application Support/Quorvi/Automation";
constexpr char kGroup[] = "/Library/Group Containers/9QVRK2N4TZ.group.quorvi/Automation";

std::string rendezvous(const std::string& socket, const std::string& token = kToken) {
  return R"({"socket":")" + socket + R"(","token":")" + token + R"("})";
}

// An Automation directory as the app keeps it, with a socket listening at dir/q-test.sock.
Fd make_automation(const std::string& dir) {
  std::filesystem::create_directories(dir);
  ::chmod(dir.c_str(), 0700);
  write_file(dir + "/connection.json", rendezvous("q-test.sock"));
  Fd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (dir + "/q-test.sock").c_str(), sizeof address.sun_path - 1);
  bool listening = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                   ::listen(fd.get(), 4) == 0 && ::chmod(address.sun_path, 0600) == 0;
  return listening ? std::move(fd) : Fd();
}

std::string connect_message(const std::vector<std::string>& candidates) {
  Outcome<Connection> got = connect_any(candidates);
  return failed(got) ? message_of(got) : "connected";
}

TEST(Discovery, RendezvousRows) {
  const std::string wide_token = "€€€€€€€€€€€€€€€€€€€€€€€€";  // 72 bytes
  std::string exact = rendezvous("q-a.sock");
  exact.insert(1, std::string(4096 - exact.size(), ' '));
  // Each refusal (empty: none) with the files that get it.
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"",
       {rendezvous("q-A-9.x.sock", wide_token), exact,
        R"({"extra":1,"socket":"q-.sock","token":")" + kToken + "\"}"}},
      {"Invalid connector discovery file", {exact + " ", "{"}},
      {kBadEndpoint,
       {"[]", R"({"socket":7,"token":")" + kToken + "\"}", rendezvous("Q-abc.sock"),
        rendezvous("q-a/b.sock"), rendezvous("q-abc.soc"),
        R"({"socket":"bad","token":1})"}},  // the socket is looked at first
      {"Invalid connector authorization",
       {rendezvous("q-abc.sock", std::string(71, 'x')),
        rendezvous("q-abc.sock", std::string(73, 'x')), R"({"socket":"q-a.sock","token":null})"}}};
  for (const auto& [message, files] : rows) {
    for (const std::string& bytes : files) {
      Outcome<Rendezvous> got = read_rendezvous(bytes);
      EXPECT_EQ(failed(got) ? message_of(got) : "", message) << bytes.substr(0, 80);
    }
  }
}

// Each endpoint must be what it claims, the user's own, closed to group and others, and no
// symlink, even to a private target.
TEST(Discovery, PrivacyRowsOnRealFiles) {
  TempDir temp;
  Fd listener = make_automation(temp / "A");
  ASSERT_TRUE(listener.valid());
  const std::string dir = temp / "A", file = dir + "/connection.json",
                    socket = dir + "/q-test.sock", link = temp / "dirlink", none = temp / "none";
  ASSERT_EQ(::symlink(dir.c_str(), link.c_str()), 0);
  ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0700), 0);
  // Another user's private directory: one that root gives away, root's own for anyone else.
  const std::string theirs = ::geteuid() == 0 ? temp / "theirs" : "/root";
  ASSERT_TRUE(::geteuid() != 0 ||
              (::mkdir(theirs.c_str(), 0700) == 0 && ::chown(theirs.c_str(), 65534, 65534) == 0));
  // The path, its mode (0: left as it is), what it must be, and the refusal (nullptr: none).
  constexpr auto kDir = EndpointKind::kDirectory, kFile = EndpointKind::kRegularFile,
                 kSocket = EndpointKind::kSocket;
  const std::tuple<std::string, mode_t, EndpointKind, const char*> rows[] = {
      {dir, 0500, kDir, nullptr},
      {dir, 0710, kDir, kBadPermissions},
      {file, 0000, kFile, nullptr},
      {file, 0640, kFile, kBadPermissions},
      {file, 0602, kFile, kBadPermissions},
      {socket, 0600, kSocket, nullptr},
      {link, 0, kDir, kBadPermissions},
      {dir, 0700, kFile, kBadPermissions},
      {none, 0, kDir, kConnectorOff},
      {theirs, 0, kDir, kBadPermissions},
      // A last component of "." or ".." reaches the directory through a symlink, or another
      // directory, that lstat would follow.
      {link + "/.", 0, kDir, kBadPermissions},
      {link + "/./", 0, kDir, kBadPermissions},
      {link + "/sub/..", 0, kDir, kBadPermissions},
      {dir + "/.", 0, kDir, kBadPermissions},
      {none + "/.", 0, kDir, kConnectorOff}};
  for (const auto& [path, mode, kind, message] : rows) {
    ASSERT_TRUE(!mode || ::chmod(path.c_str(), mode) == 0) << path;
    Outcome<Ok> got = check_private(path, kind);
    EXPECT_EQ(failed(got) ? message_of(got) : "", message ? message : "")
        << path << " " << std::oct << mode;
  }
}

TEST(Discovery, CandidateDirectoriesAndWhichSpeaks) {
  using List = std::vector<std::string>;
  // The candidates, and "fixed" after them when no launch is to be tried.
  auto listed = [] {
    auto got = directories();
    if (failed(got)) return List{message_of(got)};
    List list = value_of(got).directories;
    if (value_of(got).fixed) list.push_back("fixed");
    return list;
  };
  TempDir temp;
  // Each guard holds to the end of its statement.
  EXPECT_EQ((EnvGuard("QUORVI_BRIDGE_DIR", ""), listed()), (List{"", "fixed"}));
  EXPECT_EQ((EnvGuard("QUORVI_BRIDGE_DIR", temp.path() + "//"), listed()),
            (List{temp.path(), "fixed"}));
  EnvGuard bridge("QUORVI_BRIDGE_DIR", std::nullopt);
  EXPECT_EQ((EnvGuard("HOME", std::nullopt), listed()), List{"Home directory unavailable"});
  EnvGuard home("HOME", temp.path());
  EXPECT_EQ(listed(), (List{temp.path() + kPrimary, temp.path() + kGroup}));
  Fd group = make_automation(temp.path() + kGroup);
  EXPECT_EQ(connect_message(listed()), "connected");
  // A primary directory in any form shadows the group container.
  std::filesystem::create_directories(temp.path() + kPrimary);
  EXPECT_EQ(listed(), List{temp.path() + kPrimary});
  EXPECT_EQ(connect_message(listed()), kBadPermissions);  // mode 0755
  // A later candidate's failure is shown only when that directory is there.
  EXPECT_EQ(connect_message({temp / "a", temp / "b"}), kConnectorOff);
  Fd b = make_automation(temp / "b");
  ::chmod((temp / "b/connection.json").c_str(), 0644);
  EXPECT_EQ(connect_message({temp / "a", temp / "b"}), kBadPermissions);
  make_automation(temp / "a");  // nobody listening
  EXPECT_EQ(connect_message({temp / "a"}), kConnectorOff);
  write_file(temp / "a/connection.json", "[]");
  EXPECT_EQ(connect_message({temp / "a", temp / "c"}), kBadEndpoint);
}

}  // namespace
}  // namespace quorvi::mcp
