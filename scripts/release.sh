#!/usr/bin/env bash
# Makes every artifact of a release from the checked-out commit, each one checked, in dist/:
#
#   quorvi-VERSION.tar.gz                   the source tarball (the commit, as git archive has it)
#   quorvi-VERSION-macos-universal.tar.gz   the universal binary with the installed tree
#   quorvi-VERSION-macos.mcpb               the MCP bundle for desktop MCP clients
#   server.json                             the MCP Registry entry of that bundle
#   quorvi.rb                               the Homebrew formula of the source tarball
#   SHA256SUMS                              the SHA-256 of each of them
#
#   scripts/release.sh [--reproducible] [HOST_BUILD]
#
# HOST_BUILD (default build/, configured if missing) is a Linux build of this checkout: its
# catalogue names the bundle's tools, and its program and stand-in app run the bundle's checks.
# --reproducible then makes the release a second time from a fresh clone in another directory
# and requires the same bytes. Where the files will be published is set by
#   QUORVI_DOWNLOAD_BASE   the URL the release's files are downloaded from
#   QUORVI_REPOSITORY      the public git repository
#   QUORVI_HOMEPAGE        the project's home page
#   QUORVI_REGISTRY_NAME   the MCP Registry name (io.github.OWNER/NAME for a GitHub publisher)
# whose defaults are placeholders. Signing, notarizing and uploading are a maintainer's steps on
# a Mac (README.md, "Making a release").
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

reproducible=0
if [ "${1:-}" = --reproducible ]; then
  reproducible=1
  shift
fi
host_build=${1:-build}

fail() {
  echo "release.sh: $*" >&2
  exit 1
}

version=$(sed -n 's/^project(quorvi VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"
download_base=${QUORVI_DOWNLOAD_BASE:-https://quorvi.example/releases/download/v$version}
repository=${QUORVI_REPOSITORY:-https://quorvi.example/quorvi}
homepage=${QUORVI_HOMEPAGE:-https://quorvi.example/cli}
registry_name=${QUORVI_REGISTRY_NAME:-example.quorvi/quorvi}

# Every time stamp of a release is the commit's; the build never reads the clock.
git rev-parse --verify -q HEAD >/dev/null || fail "not a git checkout with a commit"
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "release.sh: the checkout has uncommitted changes; the source tarball has the commit's" >&2

if [ ! -f "$host_build/CMakeCache.txt" ]; then
  cmake -S . -B "$host_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$host_build" --target quorvi quorvi_completions quorvi-standin-app >/dev/null
host_build=$(realpath "$host_build")
host_quorvi=$host_build/src/quorvi
standin=$host_build/tools/standin-app/quorvi-standin-app
[ "$("$host_quorvi" --version)" = "quorvi $version" ] || fail "$host_quorvi is not version $version"

dist=dist
rm -rf "$dist" && mkdir "$dist"

# The universal binary and its archive, with every check of the macOS build.
bash scripts/macos.sh "$host_build"
archive=quorvi-$version-macos-universal.tar.gz
cp "build-macos/$archive" "$dist/"

# The source tarball: exactly the commit, with the commit's time on every file.
source=quorvi-$version.tar.gz
git archive --format=tar --prefix="quorvi-$version/" HEAD | gzip -9n >"$dist/$source"

# The MCP bundle: the universal binary as the server, the manifest's tools from the catalogue.
bundle=quorvi-$version-macos.mcpb
stage=build-macos/bundle
rm -rf "$stage" && mkdir -p "$stage/server"
cp build-macos/quorvi "$stage/server/quorvi"
cp LICENSE "$stage/LICENSE"
python3 packaging/mcpb/icon.py "$stage/icon.png"
"$host_quorvi" help all | python3 packaging/mcpb/manifest.py "$version" "$homepage" \
  "$stage/manifest.json"
chmod 0755 "$stage" "$stage/server" "$stage/server/quorvi"
chmod 0644 "$stage/LICENSE" "$stage/icon.png" "$stage/manifest.json"
mcpb=tools/mcpb/node_modules/.bin/mcpb
[ -x "$mcpb" ] || fail "$mcpb is missing: run scripts/setup.sh"
"$mcpb" validate "$stage/manifest.json" || fail "the bundle's manifest is not valid"
node tools/mcpb/pack.mjs "$stage" "$dist/$bundle"
# Exactly these entries, the server executable, every time the commit's, a 512x512 icon.
python3 - "$dist/$bundle" "$SOURCE_DATE_EPOCH" <<'EOF' || fail "the bundle's entries are wrong"
import sys, time, zipfile
want = {"LICENSE": 0o644, "icon.png": 0o644, "manifest.json": 0o644, "server/quorvi": 0o755}
stamp = time.gmtime(int(sys.argv[2]))
stamp = (stamp.tm_year, stamp.tm_mon, stamp.tm_mday, stamp.tm_hour, stamp.tm_min,
         stamp.tm_sec // 2 * 2)
with zipfile.ZipFile(sys.argv[1]) as bundle:
    got = {i.filename: (i.external_attr >> 16) & 0o777 for i in bundle.infolist()}
    times = {i.date_time for i in bundle.infolist()}
    bad = bundle.testzip()
    icon = bundle.read("icon.png")[:24] if "icon.png" in got else b""
if got != want or times != {stamp} or bad:
    sys.exit(f"entries {got}, times {times}, damaged {bad}")
if icon[:8] != b"\x89PNG\r\n\x1a\n" or icon[16:24] != (512).to_bytes(4, "big") * 2:
    sys.exit("icon.png is not a 512x512 PNG")
EOF
node tools/mcpb/check-bundle.mjs "$dist/$bundle" build-macos/quorvi "$host_quorvi" "$standin"

# The registry entry names the bundle by its final bytes.
python3 packaging/registry/server_json.py write "$registry_name" "$version" \
  "$download_base/$bundle" "$dist/$bundle" "$repository" "$dist/server.json" ||
  fail "server.json does not meet the registry's schema"

# The formula of the published source tarball.
source_sha=$(sha256sum "$dist/$source" | cut -d' ' -f1)
sed -e "s|^  homepage \".*\"$|  homepage \"$homepage\"|" \
  -e "s|^  url \".*\"$|  url \"$download_base/$source\"|" \
  -e "s|^  sha256 \".*\"$|  sha256 \"$source_sha\"|" \
  -e "s|^  head \".*\", branch: \"main\"$|  head \"$repository.git\", branch: \"main\"|" \
  packaging/homebrew/quorvi.rb >"$dist/quorvi.rb"
for line in "homepage \"$homepage\"" "url \"$download_base/$source\"" "sha256 \"$source_sha\"" \
  "head \"$repository.git\""; do
  [ "$(grep -cF "  $line" "$dist/quorvi.rb")" = 1 ] || fail "quorvi.rb: no line '$line'"
done
ruby -c "$dist/quorvi.rb" >/dev/null || fail "$dist/quorvi.rb does not parse"
desc=$(sed -n 's/^  desc "\(.*\)"$/\1/p' "$dist/quorvi.rb")
# The description rules of brew audit --strict --new.
[ "${#desc}" -le 80 ] && ! grep -qiE '^(a|an|the) |\.$' <<<"$desc" ||
  fail "the formula's desc breaks Homebrew's rules: '$desc'"

(cd "$dist" && sha256sum "$source" "$archive" "$bundle" server.json quorvi.rb >SHA256SUMS &&
  sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not hold"

if ((reproducible)); then
  # The same commit, built in another directory: every artifact must be the same bytes.
  [ -z "$(git status --porcelain --untracked-files=no)" ] ||
    fail "--reproducible needs a checkout without uncommitted changes"
  second=$(mktemp -d /tmp/quorvi-second-XXXXXX)
  git clone -q --no-hardlinks . "$second/checkout"
  git -C "$second/checkout" checkout -q "$(git rev-parse HEAD)"
  for dir in tools/zig tools/mcpb; do
    ln -s "$(realpath "$dir/node_modules")" "$second/checkout/$dir/node_modules"
  done
  QUORVI_AVAILABILITY_CHECKED=1 bash "$second/checkout/scripts/release.sh" "$host_build" \
    >"$second/release.log" 2>&1 ||
    { tail -50 "$second/release.log" >&2; fail "the second release failed"; }
  differ=()
  for file in build-macos/quorvi "$dist/$source" "$dist/$archive" "$dist/$bundle" \
    "$dist/server.json" "$dist/quorvi.rb"; do
    cmp "$file" "$second/checkout/$file" >&2 || differ+=("$file")
  done
  ((${#differ[@]} == 0)) ||
    fail "two builds of one commit differ: ${differ[*]} (the second is kept in $second)"
  echo "release.sh: built twice, in $PWD and $second/checkout: the same bytes"
  rm -rf "$second"
fi

for file in "$source" "$archive" "$bundle" server.json quorvi.rb; do
  echo "release.sh: $dist/$file: $(stat -c %s "$dist/$file") bytes," \
    "sha256 $(sha256sum "$dist/$file" | cut -d' ' -f1)"
done
echo "release.sh: done in $((SECONDS - start)) s"
