#!/usr/bin/env bash
# The desktop entry and the AppStream file validate, and both manual pages render
# without a warning.
#
#   desktop_and_manuals.sh PACKAGING_SOURCE_DIR
set -euo pipefail
src=$1
fail() { echo "desktop_and_manuals: $*" >&2; exit 1; }

command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing (desktop-file-utils)"
out=$(desktop-file-validate "$src/com.merrowick.orvelle32setup.desktop" 2>&1) || fail "$out"
# Hints count too: they point at real faults of the entry (a second main category).
[[ -z $out ]] || fail "desktop-file-validate: $out"

command -v appstreamcli >/dev/null || fail "appstreamcli is missing (appstream)"
out=$(appstreamcli validate --no-net --pedantic "$src/com.merrowick.orvelle32setup.metainfo.xml" 2>&1) ||
  fail "$out"
[[ $out != *"P: "* && $out != *"I: "* ]] || fail "appstreamcli: $out"

err=$(mktemp)
trap 'rm -f "$err"' EXIT
for page in orvelle32setup.1 orvelle-config.1; do
  text=$(MANROFFSEQ='' LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$src/$page" 2>"$err") ||
    fail "$page: man failed: $(cat "$err")"
  [[ ! -s $err ]] || fail "$page: $(cat "$err")"
  [[ $text == *"EXIT STATUS"*"EXAMPLES"* ]] || fail "$page did not render its sections"
done
echo "desktop_and_manuals: ok"
