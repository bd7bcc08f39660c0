#include "cli/mcp/discovery.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "cli/mcp/env_guard_test.h"

namespace quorvi::mcp {
namespace {

const std::string kToken(72, 't');
constexpr char kBadEndpoint[] = "Invalid connector endpoint";
constexpr char kBadAuthorization[] = "Invalid connector authorization";
constexpr char kBadFile[] = "Invalid connector discovery file";
constexpr char kPrimary[] = "/Library/Application Support/Quorvi/Automation";
constexpr char kGroup[] = "/Library/Group Containers/9QVRK2N4TZ.group.quorvi/Automation";

struct TempDir {
  std::string path = [] {
    std::string pattern = "/tmp/qd-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string("/nonexistent");
  }();
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0) << path;
}

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
  std::string wide_token;  // 24 three-byte characters: 72 bytes
  for (int i = 0; i < 24; ++i)
    wide_token += "\xE2\x82\xAC";
  std::string exact = rendezvous("q-a.sock");
  exact.insert(1, std::string(4096 - exact.size(), ' '));
  const std::pair<std::string, const char*> rows[] = {
      {rendezvous("q-A-9.x.sock", wide_token), nullptr},
      {R"({"extra":1,"socket":"q-.sock","token":")" + kToken + "\"}", nullptr},
      {exact, nullptr},
      {exact + " ", kBadFile},
      {"{", kBadFile},
      {"[]", kBadEndpoint},
      {R"({"socket":7,"token":")" + kToken + "\"}", kBadEndpoint},
      {rendezvous("Q-abc.sock"), kBadEndpoint},
      {rendezvous("q-a/b.sock"), kBadEndpoint},
      {rendezvous("q-abc.soc"), kBadEndpoint},
      {rendezvous("q-abc.sock", std::string(71, 'x')), kBadAuthorization},
      {rendezvous("q-abc.sock", std::string(73, 'x')), kBadAuthorization},
      {R"({"socket":"q-a.sock","token":null})", kBadAuthorization},
      {R"({"socket":"bad","token":1})", kBadEndpoint},  // the socket is looked at first
  };
  for (const auto& [bytes, message] : rows) {
    Outcome<Rendezvous> got = read_rendezvous(bytes);
    EXPECT_EQ(failed(got) ? message_of(got) : "", message ? message : "") << bytes.substr(0, 80);
  }
}

// Each endpoint must be what it claims, the user's own, closed to group and others, and no
// symlink, even to a private target.
TEST(Discovery, PrivacyRowsOnRealFiles) {
  TempDir temp;
  Fd listener = make_automation(temp / "A");
  ASSERT_TRUE(listener.valid());
  const std::string dir = temp / "A", file = dir + "/connection.json",
                    socket = dir + "/q-test.sock";
  ASSERT_EQ(::symlink(dir.c_str(), (temp / "dirlink").c_str()), 0);
  write_file(temp / "theirs", "{}");
  bool root = ::geteuid() == 0;  // only root can give a file away
  if (root) {
    ASSERT_EQ(::chown((temp / "theirs").c_str(), 65534, 65534), 0);
  }
  // The path, its mode (0: left as it is), what it must be, and the refusal (nullptr: none).
  const std::tuple<std::string, mode_t, EndpointKind, const char*> rows[] = {
      {dir, 0500, EndpointKind::directory, nullptr},
      {dir, 0710, EndpointKind::directory, kBadPermissions},
      {file, 0000, EndpointKind::regular_file, nullptr},
      {file, 0640, EndpointKind::regular_file, kBadPermissions},
      {file, 0602, EndpointKind::regular_file, kBadPermissions},
      {socket, 0600, EndpointKind::socket, nullptr},
      {temp / "dirlink", 0, EndpointKind::directory, kBadPermissions},
      {dir, 0700, EndpointKind::regular_file, kBadPermissions},
      {temp / "theirs", 0, EndpointKind::regular_file, root ? kBadPermissions : nullptr},
      {temp / "none", 0, EndpointKind::directory, kConnectorOff},
  };
  for (const auto& [path, mode, kind, message] : rows) {
    if (mode) {
      ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    Outcome<Ok> got = private_(path, kind);
    EXPECT_EQ(failed(got) ? message_of(got) : "", message ? message : "")
        << path << " " << std::oct << mode;
  }
}

TEST(Discovery, CandidateDirectoriesAndWhichSpeaks) {
  using List = std::vector<std::string>;
  auto listed = [] {
    auto got = directories();
    return failed(got) ? List{message_of(got)} : value_of(got);
  };
  TempDir temp;
  {
    EnvGuard bridge("QUORVI_BRIDGE_DIR", "");
    EXPECT_EQ(listed(), List{""});
  }
  EnvGuard bridge("QUORVI_BRIDGE_DIR", std::nullopt);
  {
    EnvGuard home("HOME", std::nullopt);
    EXPECT_EQ(listed(), List{"Home directory unavailable"});
  }
  EnvGuard home("HOME", temp.path);
  EXPECT_EQ(listed(), (List{temp.path + kPrimary, temp.path + kGroup}));
  Fd group = make_automation(temp.path + kGroup);
  EXPECT_EQ(connect_message(listed()), "connected");
  // A primary directory in any form shadows the group container.
  std::filesystem::create_directories(temp.path + kPrimary);
  EXPECT_EQ(listed(), List{temp.path + kPrimary});
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
