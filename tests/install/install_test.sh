#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks the tree, the installed man page and
# executable, the uninstall through the install manifest, and the TGZ archive of cpack.
#
# Usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd) || exit 1
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
# A space in the prefix catches unquoted paths in the install rules and in the uninstall line.
prefix="$scratch/pre fix"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

expected_files="bin/quorvi
share/bash-completion/completions/quorvi
share/fish/vendor_completions.d/quorvi.fish
share/man/man1/quorvi.1
share/zsh/site-functions/_quorvi"

# Regular files below $1, relative to it, sorted.
tree_of() { (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort); }

timeout 120 cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; echo "FAIL: cmake --install"; exit 1; }

# The tree holds exactly what a user needs, nothing of the tests.
[[ $(tree_of "$prefix") == "$expected_files" ]] ||
  fail "installed tree differs:"$'\n'"$(tree_of "$prefix")"
[[ -x $prefix/bin/quorvi ]] || fail "bin/quorvi is not executable"
for file in share/man/man1/quorvi.1 share/bash-completion/completions/quorvi \
  share/zsh/site-functions/_quorvi share/fish/vendor_completions.d/quorvi.fish; do
  [[ $(stat -c %a "$prefix/$file" 2>/dev/null) == 644 ]] || fail "$file is not mode 644"
done
for file in share/bash-completion/completions/quorvi share/zsh/site-functions/_quorvi \
  share/fish/vendor_completions.d/quorvi.fish; do
  cmp -s "$build/completions/$file" "$prefix/$file" || fail "$file differs from the build's"
done

# The installed executable runs.
help=$(timeout 10 "$prefix/bin/quorvi" --help 2>&1)
[[ $help == "Quorvi native CLI"* ]] || fail "installed quorvi --help printed: $help"

# man finds the page below the prefix and formats it without complaint.
found=$(MANPATH="$prefix/share/man" timeout 30 man -w quorvi 2>&1)
[[ $found == "$prefix/share/man/man1/quorvi.1" ]] || fail "man -w quorvi found: $found"
page=$(MANWIDTH=100 LC_ALL=C.UTF-8 timeout 60 man -P cat -l "$prefix/share/man/man1/quorvi.1" \
  2>"$scratch/man.err")
status=$?
((status == 0)) || fail "man -l exited with status $status"
[[ -s $scratch/man.err ]] && fail "man -l wrote: $(cat "$scratch/man.err")"
for text in NAME SYNOPSIS ENVIRONMENT FILES "EXIT STATUS" EXAMPLES DIAGNOSTICS \
  "quorvi://x-callback-url/open-note?x-success=done%3A1&id=ABC" QUORVI_EXCLUDE_TAGS \
  "Could not write to standard output"; do
  [[ $page == *"$text"* ]] || fail "man -l output lacks \"$text\""
done

# Uninstall as the README says: every file of the manifest goes.
manifest=$build/install_manifest.txt
[[ $(sed "s|^$prefix/||" "$manifest" | LC_ALL=C sort) == "$expected_files" ]] ||
  fail "install manifest differs:"$'\n'"$(cat "$manifest")"
tr '\n' '\0' <"$manifest" | xargs -0 rm -f
[[ -z $(tree_of "$prefix") ]] || fail "files left after uninstall:"$'\n'"$(tree_of "$prefix")"

# cpack's archive holds the same tree below one top directory named after the version.
timeout 120 cpack -G TGZ --config "$build/CPackConfig.cmake" -B "$scratch/package" \
  >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; fail "cpack -G TGZ"; }
archives=("$scratch"/package/quorvi-*.tar.gz)
if [[ -f ${archives[0]} ]]; then
  mkdir "$scratch/unpacked"
  tar -xzf "${archives[0]}" -C "$scratch/unpacked" || fail "tar could not unpack the archive"
  tops=("$scratch"/unpacked/*)
  [[ ${#tops[@]} == 1 && ${tops[0]##*/} == quorvi-*-* ]] ||
    fail "archive top level: ${tops[*]##*/}"
  [[ $(tree_of "${tops[0]}") == "$expected_files" ]] ||
    fail "archive tree differs:"$'\n'"$(tree_of "${tops[0]}")"
else
  fail "cpack made no archive"
fi

((failures == 0)) && echo "install: tree, man page, uninstall and archive as expected"
((failures == 0))
