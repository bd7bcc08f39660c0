#include "cli/mcp/discovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "cli/mcp/env_guard_test.h"

namespace quorvi::mcp {
namespace {

const std::string kToken(72, 't');
constexpr char kNoHome[] = "Home directory unavailable";
constexpr char kBadEndpoint[] = "Invalid connector endpoint";
constexpr char kBadAuthorization[] = "Invalid connector authorization";
constexpr char kBadFile[] = "Invalid connector discovery file";

class TempDir {
 public:
  TempDir() {
    std::string pattern = "/tmp/qd-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& bytes, mode_t mode = 0600) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

// A listening socket bound at `path`, mode 0600.
Fd listen_at(const std::string& path) {
  Fd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 4) != 0 || ::chmod(path.c_str(), 0600) != 0) {
    return Fd();
  }
  return fd;
}

std::string rendezvous(const std::string& socket, const std::string& token) {
  return R"({"socket":")" + socket + R"(","token":")" + token + R"("})";
}

// An Automation directory as the app keeps it, with a listening socket.
struct Automation {
  std::string dir;
  Fd listener;
};

Automation make_automation(const std::string& dir) {
  std::filesystem::create_directories(dir);
  ::chmod(dir.c_str(), 0700);
  Automation automation{dir, listen_at(dir + "/q-test.sock")};
  write_file(dir + "/connection.json", rendezvous("q-test.sock", kToken));
  return automation;
}

std::string connect_message(const std::vector<std::string>& candidates) {
  Outcome<Connection> got = connect_any(candidates);
  return failed(got) ? message_of(got) : "connected";
}

TEST(DiscoveryTest, ReadsRendezvous) {
  const std::string token71(71, 'x'), token73(73, 'x');
  // 24 three-byte characters: 72 bytes.
  std::string wide_token;
  for (int i = 0; i < 24; ++i)
    wide_token += "\xE2\x82\xAC";
  std::string exact = rendezvous("q-a.sock", kToken);
  exact.insert(1, std::string(4096 - exact.size(), ' '));
  struct Case {
    std::string bytes;
    const char* message;  // nullptr when accepted
  } cases[] = {
      {rendezvous("q-abc.sock", kToken), nullptr},
      {rendezvous("q-.sock", kToken), nullptr},
      {rendezvous("q-A-9.x.sock", kToken), nullptr},
      {rendezvous("q-abc.sock", wide_token), nullptr},
      {R"({"extra":1,"socket":"q-a.sock","token":")" + kToken + "\"}", nullptr},
      {exact, nullptr},
      {exact + " ", kBadFile},
      {"", kBadFile},
      {"{", kBadFile},
      {rendezvous("q-a.sock", kToken) + "x", kBadFile},
      {"[]", kBadEndpoint},
      {R"("q-a.sock")", kBadEndpoint},
      {R"({"token":")" + kToken + "\"}", kBadEndpoint},
      {R"({"socket":7,"token":")" + kToken + "\"}", kBadEndpoint},
      {rendezvous("Q-abc.sock", kToken), kBadEndpoint},
      {rendezvous("q-abc.SOCK", kToken), kBadEndpoint},
      {rendezvous("q-a_b.sock", kToken), kBadEndpoint},
      {rendezvous("q-a b.sock", kToken), kBadEndpoint},
      {rendezvous("q-a/b.sock", kToken), kBadEndpoint},
      {rendezvous("q-abc.soc", kToken), kBadEndpoint},
      {rendezvous("q-", kToken), kBadEndpoint},
      {rendezvous("q.sock", kToken), kBadEndpoint},
      {rendezvous("q-abc.sock", token71), kBadAuthorization},
      {rendezvous("q-abc.sock", token73), kBadAuthorization},
      {R"({"socket":"q-a.sock"})", kBadAuthorization},
      {R"({"socket":"q-a.sock","token":null})", kBadAuthorization},
      {R"({"socket":"bad","token":1})", kBadEndpoint},  // the socket is looked at first
  };
  for (const Case& c : cases) {
    Outcome<Rendezvous> got = read_rendezvous(c.bytes);
    if (c.message) {
      ASSERT_TRUE(failed(got)) << c.bytes;
      EXPECT_EQ(message_of(got), c.message) << c.bytes;
    } else {
      ASSERT_FALSE(failed(got)) << c.bytes << ": " << message_of(got);
    }
  }
  Outcome<Rendezvous> got = read_rendezvous(rendezvous("q-abc.sock", wide_token));
  ASSERT_FALSE(failed(got));
  EXPECT_EQ(value_of(got).socket, "q-abc.sock");
  EXPECT_EQ(value_of(got).token, wide_token);
}

TEST(DiscoveryTest, PrivacyChecksOnRealFiles) {
  TempDir temp;
  struct Case {
    std::string name;
    EndpointKind kind;
    mode_t mode;
    const char* message;
  } cases[] = {
      {"dir700", EndpointKind::directory, 0700, nullptr},
      {"dir500", EndpointKind::directory, 0500, nullptr},  // the owner's own bits don't matter
      {"dir710", EndpointKind::directory, 0710, kBadPermissions},
      {"dir701", EndpointKind::directory, 0701, kBadPermissions},
      {"file600", EndpointKind::regular_file, 0600, nullptr},
      {"file000", EndpointKind::regular_file, 0000, nullptr},
      {"file640", EndpointKind::regular_file, 0640, kBadPermissions},
      {"file601", EndpointKind::regular_file, 0601, kBadPermissions},
      {"file602", EndpointKind::regular_file, 0602, kBadPermissions},
  };
  for (const Case& c : cases) {
    std::string path = temp / c.name;
    if (c.kind == EndpointKind::directory) {
      ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
      ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    } else {
      write_file(path, "{}", c.mode);
    }
    Outcome<Ok> got = private_(path, c.kind);
    if (c.message) {
      ASSERT_TRUE(failed(got)) << c.name;
      EXPECT_EQ(message_of(got), c.message) << c.name;
    } else {
      EXPECT_FALSE(failed(got)) << c.name << ": " << message_of(got);
    }
  }

  Fd listener = listen_at(temp / "q-s.sock");
  ASSERT_TRUE(listener.valid());
  EXPECT_FALSE(failed(private_(temp / "q-s.sock", EndpointKind::socket)));
  ::chmod((temp / "q-s.sock").c_str(), 0660);
  EXPECT_EQ(message_of(private_(temp / "q-s.sock", EndpointKind::socket)), kBadPermissions);

  // Symlinks are refused even when they lead to a private target.
  ASSERT_EQ(::symlink((temp / "dir700").c_str(), (temp / "dirlink").c_str()), 0);
  ASSERT_EQ(::symlink((temp / "file600").c_str(), (temp / "filelink").c_str()), 0);
  EXPECT_EQ(message_of(private_(temp / "dirlink", EndpointKind::directory)), kBadPermissions);
  EXPECT_EQ(message_of(private_(temp / "filelink", EndpointKind::regular_file)), kBadPermissions);

  // The wrong kind, and a path that is not there.
  EXPECT_EQ(message_of(private_(temp / "dir700", EndpointKind::regular_file)), kBadPermissions);
  EXPECT_EQ(message_of(private_(temp / "file600", EndpointKind::socket)), kBadPermissions);
  EXPECT_EQ(message_of(private_(temp / "none", EndpointKind::directory)), kConnectorOff);
}

TEST(DiscoveryTest, RefusesAnotherOwner) {
  // Only root can give a file away; elsewhere the check cannot be arranged.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to change an owner";
  TempDir temp;
  write_file(temp / "theirs", "{}", 0600);
  ASSERT_EQ(::chown((temp / "theirs").c_str(), 65534, 65534), 0);
  EXPECT_EQ(message_of(private_(temp / "theirs", EndpointKind::regular_file)), kBadPermissions);
  ASSERT_EQ(::mkdir((temp / "their-dir").c_str(), 0700), 0);
  ASSERT_EQ(::chown((temp / "their-dir").c_str(), 65534, 65534), 0);
  EXPECT_EQ(message_of(private_(temp / "their-dir", EndpointKind::directory)), kBadPermissions);
}

TEST(DiscoveryTest, CandidateDirectories) {
  using List = std::vector<std::string>;
  {
    EnvGuard bridge("QUORVI_BRIDGE_DIR", "");
    EnvGuard home("HOME", std::nullopt);
    auto got = directories();
    ASSERT_FALSE(failed(got));
    EXPECT_EQ(value_of(got), List{""});
  }
  {
    EnvGuard bridge("QUORVI_BRIDGE_DIR", std::nullopt);
    EnvGuard home("HOME", std::nullopt);
    auto got = directories();
    ASSERT_TRUE(failed(got));
    EXPECT_EQ(message_of(got), kNoHome);
  }
  TempDir temp;
  EnvGuard bridge("QUORVI_BRIDGE_DIR", std::nullopt);
  EnvGuard home("HOME", temp.path());
  const std::string primary = temp / "Library/Application Support/Quorvi/Automation";
  const std::string group = temp / "Library/Group Containers/9QVRK2N4TZ.group.quorvi/Automation";
  auto got = directories();
  ASSERT_FALSE(failed(got));
  EXPECT_EQ(value_of(got), (List{primary, group}));
  // A primary directory in any form, even a dangling symlink, is the only candidate.
  std::filesystem::create_directories(temp / "Library/Application Support/Quorvi");
  ASSERT_EQ(::symlink("/nonexistent", primary.c_str()), 0);
  got = directories();
  ASSERT_FALSE(failed(got));
  EXPECT_EQ(value_of(got), List{primary});
  {
    EnvGuard empty_home("HOME", "");
    got = directories();
    ASSERT_FALSE(failed(got));
    EXPECT_EQ(value_of(got)[0], "Library/Application Support/Quorvi/Automation");
  }
}

TEST(DiscoveryTest, ConnectsWithDeadlinesAndToken) {
  TempDir temp;
  Automation app = make_automation(temp / "Automation");
  ASSERT_TRUE(app.listener.valid());
  Outcome<Connection> got = connect_any({temp / "missing", app.dir});
  ASSERT_FALSE(failed(got)) << message_of(got);
  const Connection& connection = value_of(got);
  EXPECT_EQ(connection.token, kToken);
  struct timeval limit {};
  socklen_t size = sizeof limit;
  ASSERT_EQ(::getsockopt(connection.socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, &size), 0);
  EXPECT_EQ(limit.tv_sec, 15);
  ASSERT_EQ(::getsockopt(connection.socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, &size), 0);
  EXPECT_EQ(limit.tv_sec, 5);
  EXPECT_TRUE(::fcntl(connection.socket.get(), F_GETFD) & FD_CLOEXEC);
}

// The end-to-end tests cover the refusals a user meets; these are the ones they cannot reach.
TEST(DiscoveryTest, ConnectionFailures) {
  TempDir temp;
  const std::string dir = temp / "A";
  const std::string file = dir + "/connection.json";
  const std::string socket = dir + "/q-test.sock";
  Fd listener;
  struct Case {
    const char* what;
    std::function<void()> spoil;
    const char* message;
  } cases[] = {
      {"directory for a file",
       [&] {
         ::unlink(file.c_str());
         ::mkdir(file.c_str(), 0700);
       },
       kBadPermissions},
      {"nobody listening", [&] { listener.reset(); }, kConnectorOff},
      // Root reads any file, so this case only tells something for other users.
      {"unreadable file", [&] { ::chmod(file.c_str(), 0200); },
       ::geteuid() == 0 ? "connected" : "Connector unavailable"},
  };
  for (const Case& c : cases) {
    ::rmdir(file.c_str());
    ::unlink(file.c_str());
    ::unlink(socket.c_str());
    listener = make_automation(dir).listener;
    ASSERT_EQ(connect_message({dir}), "connected") << c.what;
    c.spoil();
    EXPECT_EQ(connect_message({dir}), c.message) << c.what;
  }
}

TEST(DiscoveryTest, LaterCandidateMessageOnlyWhenItExists) {
  TempDir temp;
  EXPECT_EQ(connect_message({}), kConnectorOff);
  EXPECT_EQ(connect_message({temp / "a", temp / "b"}), kConnectorOff);
  Automation group = make_automation(temp / "b");
  ::chmod((group.dir + "/connection.json").c_str(), 0644);
  EXPECT_EQ(connect_message({temp / "a", group.dir}), kBadPermissions);
  // The first candidate's message is kept when the later one is absent.
  Automation primary = make_automation(temp / "a");
  write_file(primary.dir + "/connection.json", "[]");
  EXPECT_EQ(connect_message({primary.dir, temp / "c"}), kBadEndpoint);
}

TEST(DiscoveryTest, PrimaryDirectoryShadowsTheGroupContainer) {
  TempDir temp;
  EnvGuard bridge("QUORVI_BRIDGE_DIR", std::nullopt);
  EnvGuard home("HOME", temp.path());
  Automation group =
      make_automation(temp / "Library/Group Containers/9QVRK2N4TZ.group.quorvi/Automation");
  auto candidates = directories();
  ASSERT_FALSE(failed(candidates));
  EXPECT_EQ(connect_message(value_of(candidates)), "connected");
  std::filesystem::create_directories(temp / "Library/Application Support/Quorvi/Automation");
  candidates = directories();
  ASSERT_FALSE(failed(candidates));
  EXPECT_EQ(connect_message(value_of(candidates)), kBadPermissions);  // mode 0755
}

}  // namespace
}  // namespace quorvi::mcp
