#!/usr/bin/env bash
# Builds the part of libunistring that quorvi links as a static library for one macOS slice,
# from Debian's source package, and installs it with its public headers under PREFIX.
#
#   macos-unistring.sh WORK PREFIX ZIG ZIG_TARGET HOST_TRIPLE AR
#
# The source comes from `apt-get source` with a temporary list of source archives and its own
# index directory, so the machine's apt configuration stays as it is. The archives are those the
# machine already installs Debian's packages from. With QUORVI_UNISTRING_SOURCE set to an
# unpacked libunistring source tree, that tree is used instead (for machines without apt).
set -euo pipefail

work=$1 prefix=$2 zig=$3 zig_target=$4 host=$5 ar=$6

# The objects that u8_mbtouc, u8_prev, u8_tolower and uc_is_property_white_space need on macOS,
# their dependencies included (free: macOS's free is replaced by gnulib's). A function that
# quorvi starts to use shows up as an undefined symbol in the cross link: add its object here.
objects=(
  free
  unicase/cased unicase/empty-prefix-context unicase/empty-suffix-context unicase/ignorable
  unicase/special-casing unicase/tolower unicase/u8-casemap unicase/u8-tolower
  unictype/combiningclass unictype/pr_soft_dotted unictype/pr_white_space
  uninorm/decompose-internal uninorm/u8-normalize
  unistr/u8-cpy unistr/u8-mbtouc unistr/u8-mbtouc-aux unistr/u8-mbtouc-unsafe-aux unistr/u8-prev
  unistr/u8-uctomb-aux
)

fetch_source() {
  local apt="$work/apt"
  rm -rf "$apt" && mkdir -p "$apt/lists/partial" "$apt/parts" "$apt/source"
  # deb-src entries for the Debian archives the machine's own package lists come from.
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(ORIGIN)' \
    'Created-By: Packages' |
    awk '$3 == "main" && $4 == "Debian" { print "deb-src " $1 " " $2 " main" }' |
    sort -u >"$apt/sources.list"
  if ! [ -s "$apt/sources.list" ]; then
    echo "macos-unistring.sh: apt knows no Debian archive; run apt-get update first" >&2
    return 1
  fi
  local options=(-qq -o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=")
  # As root, apt downloads as its own unprivileged user, which must reach these directories.
  if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then
    chmod a+rx "$work" "$apt" && chown -R _apt "$apt/lists" "$apt/source"
  fi
  apt-get "${options[@]}" update
  # The version the host's own libunistring-dev has, when there is one: both builds then agree.
  local version package=libunistring
  version=$(dpkg-query -W -f='${source:Version}' libunistring-dev 2>/dev/null || true)
  [ -z "$version" ] || package="libunistring=$version"
  (cd "$apt/source" && apt-get "${options[@]}" source --download-only "$package")
  # Upstream's tree as Debian ships it: Debian's patches touch only its tests and the Linux
  # multiarch library path, and would make the build regenerate the autotools files. apt has
  # checked every file against the signed index, so dpkg-source need not (it lacks the keys).
  rm -rf "$work/source"
  dpkg-source --no-check --skip-patches -x "$apt"/source/libunistring_*.dsc "$work/source" >/dev/null
}

source_dir=${QUORVI_UNISTRING_SOURCE:-}
if [ -z "$source_dir" ]; then
  [ -x "$work/source/configure" ] || fetch_source
  source_dir="$work/source"
fi

build="$work/build"
rm -rf "$build" && mkdir -p "$build"
cd "$build"
"$source_dir/configure" --host="$host" --prefix="$prefix" --enable-static --disable-shared \
  --disable-threads --disable-rpath --disable-dependency-tracking --quiet \
  CC="$zig cc -target $zig_target" AR="$ar" CFLAGS="-O2" >configure.log 2>&1 || {
  tail -n 40 configure.log config.log >&2
  exit 1
}
# The generated headers, then only the objects above.
make -C lib -f Makefile -f - quorvi-generated <<<'quorvi-generated: $(BUILT_SOURCES)' >/dev/null
make -C lib -j2 "${objects[@]/%/.lo}" >/dev/null
make -C lib install-nobase_includeHEADERS install-nobase_nodist_includeHEADERS \
  install-nodist_includeHEADERS >/dev/null
mkdir -p "$prefix/lib"
rm -f "$prefix/lib/libunistring.a"
(cd lib && "$ar" rcs "$prefix/lib/libunistring.a" "${objects[@]/%/.o}")
