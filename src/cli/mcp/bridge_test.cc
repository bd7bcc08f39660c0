#include "cli/mcp/bridge.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/fd.h"

namespace quorvi::mcp {
namespace {

TEST(BridgeTest, ResponseOutcome) {
  constexpr char kInvalid[] = "Invalid connector response";
  struct Case {
    std::string body;
    std::string result;             // compact JSON of the result, when accepted
    const char* message = nullptr;  // the failure, when refused
  } cases[] = {
      {R"({"result":{"b":1,"a":[true]}})", R"({"a":[true],"b":1})"},
      {R"({"result":1,"error":"Note not found"})", "", "Note not found"},
      {R"({"error":""})", "", ""},
      {R"({"error":"caf\u00e9\n"})", "", "caf\xC3\xA9\n"},
      {R"({"error":null,"result":42})", "42"},
      {R"({"error":{"text":"x"},"result":"ok"})", "\"ok\""},
      {R"({"error":7})", "null"},
      {R"({"other":1})", "null"},
      {"[1,2]", "null"},
      {"3", "null"},
      {"\"error\"", "null"},
      {" {\"result\":true} \r\n\t", "true"},
      {R"({"result":null})", "null"},
      {R"({"result":1.0})", "1.0"},
      {"{\"result\":1}x", "", kInvalid},
      {"{\"result\":1}{}", "", kInvalid},
      {"", "", kInvalid},
      {"not json", "", kInvalid},
      {std::string("{\"result\":\"\xC3\"}"), "", kInvalid},
      {std::string(128, '[') + std::string(128, ']'), "", kInvalid},
      {std::string(2, '\0'), "", kInvalid},
  };
  for (const Case& c : cases) {
    ConnectorResult got = response_outcome(c.body);
    if (c.message) {
      ASSERT_TRUE(failed(got)) << c.body;
      EXPECT_EQ(message_of(got), c.message) << c.body;
    } else {
      ASSERT_FALSE(failed(got)) << c.body << ": " << message_of(got);
      EXPECT_EQ(write(value_of(got)), c.result) << c.body;
    }
  }
  // 127 levels are still a response.
  ConnectorResult deep = response_outcome(std::string(127, '[') + std::string(127, ']'));
  EXPECT_FALSE(failed(deep));
}

TEST(BridgeTest, AppBundleFromExecutablePath) {
  constexpr char kDefault[] = "/Applications/Quorvi.app";
  struct Case {
    std::optional<std::string> executable;
    std::string app;
  } cases[] = {
      {"/Applications/Quorvi.app/Contents/MacOS/quorvi", "/Applications/Quorvi.app"},
      {"/Users/me/Apps/Other Name.app/Contents/MacOS/quorvi", "/Users/me/Apps/Other Name.app"},
      {"/X.app/Contents/MacOS/quorvi", "/X.app"},
      {"X.app/Contents/MacOS/quorvi", "X.app"},
      {"/A.app//Contents/MacOS/quorvi", "/A.app"},
      {"/usr/local/bin/quorvi", kDefault},
      {"/Applications/Quorvi.APP/Contents/MacOS/quorvi", kDefault},
      {"/Applications/Quorvi.app/Contents/quorvi", kDefault},
      {"/Applications/.app/Contents/MacOS/quorvi", kDefault},
      {"/Applications/Quorvi.apps/Contents/MacOS/quorvi", kDefault},
      {"Contents/MacOS/quorvi", kDefault},
      {"quorvi", kDefault},
      {"", kDefault},
      {std::nullopt, kDefault},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app_bundle_path(c.executable), c.app) << c.executable.value_or("(none)");
  }
}

// The command line cannot carry such a name (it refuses text that is not UTF-8), so the check
// is seen here: the connection is made, then closed without a byte.
TEST(BridgeTest, OperationNameThatIsNotUtf8IsNeverSent) {
  std::string dir = "/tmp/qb-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  std::string socket_path = dir + "/q-unit.sock";
  Fd listener(::socket(AF_UNIX, SOCK_STREAM, 0));
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener.get(), 4), 0);
  ASSERT_EQ(::chmod(socket_path.c_str(), 0600), 0);
  std::ofstream(dir + "/connection.json")
      << R"({"socket":"q-unit.sock","token":")" << std::string(72, 't') << "\"}";
  ASSERT_EQ(::chmod((dir + "/connection.json").c_str(), 0600), 0);
  ::setenv("QUORVI_BRIDGE_DIR", dir.c_str(), 1);

  ConnectorResult got = bridge("ta\xFFgs", Json::object());
  ::unsetenv("QUORVI_BRIDGE_DIR");
  ASSERT_TRUE(failed(got));
  EXPECT_EQ(message_of(got), "Invalid request");
  Fd accepted(::accept(listener.get(), nullptr, nullptr));
  ASSERT_TRUE(accepted.valid());
  char byte;
  EXPECT_EQ(::recv(accepted.get(), &byte, 1, 0), 0);  // closed, nothing sent
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvi::mcp
