#!/usr/bin/env bash
# The man page passes mandoc's lint and groff's warnings without a single message.
#
# Usage: man_lint.sh PAGE
set -uo pipefail
page=$1
out=$(timeout 60 mandoc -T lint "$page" 2>&1)
mandoc_status=$?
echo "$out"
groff_out=$(timeout 60 groff -ww -z -mdoc "$page" 2>&1)
groff_status=$?
echo "$groff_out"
((mandoc_status == 0 && groff_status == 0)) && [[ -z $out && -z $groff_out ]]
