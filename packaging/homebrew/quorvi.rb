# Homebrew formula of quorvi, built from its source tarball with CMake and Ninja. A release sets
# url and sha256 to those of the published source tarball (`git archive` of the tagged commit).
class Quorvi < Formula
  desc "Command-line companion of the Quorvi notes app"
  homepage "https://quorvi.example/cli"
  url "https://quorvi.example/releases/quorvi-0.11.0.tar.gz"
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"

  depends_on "cmake" => :build
  depends_on "ninja" => :build
  depends_on "nlohmann-json" => :build
  depends_on "libunistring"
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
    assert_match "Usage: quorvi", shell_output("#{bin}/quorvi --help")

    # A header line, then the fourteen connector operations as JSON.
    catalogue = JSON.parse(shell_output("#{bin}/quorvi help all").lines.drop(1).join)
    assert_equal 14, catalogue.length

    ENV.delete "QUORVI_API_TOKEN"
    assert_equal "Set QUORVI_API_TOKEN from Quorvi Settings → Automation\n",
                 shell_output("#{bin}/quorvi tags 2>&1", 1)
  end
end
