#!/usr/bin/env bash
# The man page passes mandoc's lint and groff's warnings without a message; the build installs
# into a fresh prefix as exactly the expected tree, whose page man shows in full, uninstalls
# through the install manifest, and packs with cpack into the same tree below one directory.
#
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
page=$1/doc/quorvi.1
build=$(cd "$2" && pwd) || exit 1
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
# A space in the prefix catches unquoted paths in the install rules and in the uninstall line.
prefix="$scratch/pre fix"
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }
# Files below $1 with their modes, sorted.
tree_of() { (cd "$1" && find . \( -type f -o -type l \) -printf '%m %P\n' | LC_ALL=C sort -k2); }
expected="755 bin/quorvi
644 share/bash-completion/completions/quorvi
644 share/fish/vendor_completions.d/quorvi.fish
644 share/man/man1/quorvi.1
644 share/zsh/site-functions/_quorvi"

# groff's warnings through each macro package, and man's at a terminal's usual width.
lint=$(timeout 60 mandoc -T lint "$page" 2>&1; timeout 60 groff -ww -z -mdoc "$page" 2>&1
  timeout 60 groff -ww -z -man "$page" 2>&1
  MANWIDTH=80 LC_ALL=C.UTF-8 timeout 60 man --warnings -P cat -l "$page" 2>&1 >/dev/null)
[[ -z $lint ]] || fail "man page lint: $lint"

timeout 120 cmake --install "$build" --prefix "$prefix" >"$scratch/log" 2>&1 || fail "cmake --install: $(cat "$scratch/log")"
[[ $(tree_of "$prefix") == "$expected" ]] || fail "installed tree:"$'\n'"$(tree_of "$prefix")"
diff -r "$build/completions/share" "$prefix/share" -x man || fail "installed completions differ from the build's"
[[ $(timeout 10 "$prefix/bin/quorvi" --help 2>&1) == "Quorvi native CLI"* ]] || fail "installed quorvi --help"
# The installed page is the linted one: here only what man shows of it.
formatted=$(MANWIDTH=100 LC_ALL=C.UTF-8 timeout 60 man -P cat -l "$prefix/share/man/man1/quorvi.1" 2>&1)
for text in SYNOPSIS "EXIT STATUS" "quorvi://x-callback-url/open-note?x-success=done%3A1&id=ABC"; do
  [[ $formatted == *"$text"* ]] || fail "man -l output lacks \"$text\": $formatted"
done

# Uninstall as the README says: every file of the manifest goes.
tr '\n' '\0' <"$build/install_manifest.txt" | xargs -0 rm -f
[[ -z $(tree_of "$prefix") ]] || fail "left after uninstall:"$'\n'"$(tree_of "$prefix")"

timeout 120 cpack -G TGZ --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/log" 2>&1 ||
  fail "cpack: $(cat "$scratch/log")"
mkdir "$scratch/unpacked" && tar -xzf "$scratch"/package/quorvi-*.tar.gz -C "$scratch/unpacked" || fail "no archive"
tops=("$scratch"/unpacked/*)
[[ ${#tops[@]} == 1 && ${tops[0]##*/} == quorvi-*-* ]] || fail "archive top level: ${tops[*]##*/}"
[[ $(tree_of "${tops[0]}") == "$expected" ]] || fail "archive tree:"$'\n'"$(tree_of "${tops[0]}")"

((failures == 0)) && echo "install: lint, tree, man page, uninstall and archive as expected"
((failures == 0))
