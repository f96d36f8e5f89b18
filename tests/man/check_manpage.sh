#!/usr/bin/env bash
# The manual page and the program's --help name the same options, and the page formats without warnings.
# Usage: check_manpage.sh PROGRAM MANPAGE
set -euo pipefail
program=$1 page=$2

# Options from the help's option lines ("  --name ..."), and from the page's OPTIONS section (roff dashes "\-").
help_options=$("$program" --help | grep -oE '^  --[a-z][a-z-]*' | sed 's/^ *//' | sort -u)
page_options=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | sed 's/\\-/-/g' | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[ -n "$help_options" ] || { echo "no options found in $program --help" >&2; exit 1; }
if [ "$help_options" != "$page_options" ]; then
  echo "$page and $program --help disagree (< help only, > page only):" >&2
  diff <(echo "$help_options") <(echo "$page_options") >&2 || true
  exit 1
fi

for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' ENVIRONMENT FILES EXAMPLES; do
  grep -qx "\.SH \"\{0,1\}$section\"\{0,1\}" "$page" || { echo "$page lacks the $section section" >&2; exit 1; }
done
grep -q 'Not for diagnostic use' "$page" || { echo "$page lacks 'Not for diagnostic use'" >&2; exit 1; }

command -v groff >/dev/null || { echo "groff is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
warnings=$( { groff -man -ww -z "$page"
              LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" >/dev/null; } 2>&1)
[ -z "$warnings" ] || { echo "$page formats with warnings:" >&2; echo "$warnings" >&2; exit 1; }
echo "$page: options agree with --help ($(echo $help_options)); no formatting warnings"
