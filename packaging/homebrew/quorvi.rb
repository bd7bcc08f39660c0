# Homebrew formula of quorvi, built from its source tarball with CMake and Ninja.
# scripts/release.sh writes the release's copy into dist/ with homepage, url, sha256 and head
# filled in; this one carries placeholders.
class Quorvi < Formula
  desc "Command-line companion of the Quorvi notes app"
  homepage "https://quorvi.example/cli"
  url "https://quorvi.example/releases/download/v0.11.0/quorvi-0.11.0.tar.gz"
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"
  license "MIT"
  head "https://quorvi.example/quorvi.git", branch: "main"

  livecheck do
    url :stable
    regex(/quorvi[._-]v?(\d+(?:\.\d+)+)\.t/i)
  end

  depends_on "cmake" => :build
  depends_on "fmt" => :build # used header-only
  depends_on "libunistring" => :build # linked statically
  depends_on "ninja" => :build
  depends_on "nlohmann-json" => :build
  depends_on :macos

  def install
    system "cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DQUORVI_BUILD_TESTS=OFF",
           *std_cmake_args
    system "cmake", "--build", "build"
    system "cmake", "--install", "build"
    # CMake installs the man page and the zsh and fish completions where Homebrew looks for
    # them; Homebrew's bash completions live in etc/bash_completion.d.
    bash_completion.install share/"bash-completion/completions/quorvi"
    rm_r share/"bash-completion"
  end

  test do
    assert_equal "quorvi #{version}\n", shell_output("#{bin}/quorvi --version")

    initialize = {
      jsonrpc: "2.0", id: 1, method: "initialize",
      params: { protocolVersion: "2025-06-18", capabilities: {},
                clientInfo: { name: "brew", version: "1" } }
    }
    answer = JSON.parse(pipe_output("#{bin}/quorvi mcp-server", "#{initialize.to_json}\n", 0))
    assert_equal 1, answer["id"]
    assert_equal version.to_s, answer["result"]["serverInfo"]["version"]

    # An empty Automation directory: no app to reach, and nothing is launched.
    ENV["QUORVI_BRIDGE_DIR"] = testpath
    assert_equal "Open Quorvi and enable Desktop connector in Settings\n",
                 shell_output("#{bin}/quorvi request tags '{}' 2>&1", 1)
  end
end
