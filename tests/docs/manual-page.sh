#!/usr/bin/env bash
# The manual page renders without warnings and agrees with `bramvell --help`: every command and every
# option the help names has its entry in the page, and the page describes no command the help lacks.
#
#   manual-page.sh PATH/TO/bramvell PATH/TO/bramvell.1
set -euo pipefail
bramvell=$1
page=$2
command -v groff >/dev/null || {
  echo "SKIPPED: groff is missing"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

warnings=$(groff -man -ww -z "$page" 2>&1 || true)
[[ -z $warnings ]] || fail "the page renders with warnings: $warnings"
text=$(MANWIDTH=200 groff -man -Tutf8 -P -cbou "$page" 2>/dev/null)
help=$("$bramvell" --help)

commands_in_help=$(sed -n '/^Commands:/,$p' <<<"$help" | awk 'NR > 1 && NF { print $1 }' | sort)
commands_in_page=$(sed -n '/^COMMANDS/,/^[A-Z]/p' <<<"$text" | awk '/^       [a-z]/ { print $1 }' | sort)
[[ $commands_in_help == "$commands_in_page" ]] ||
  fail "commands differ: help has [$(echo $commands_in_help)], the page [$(echo $commands_in_page)]"

for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  grep -q -- "$option" <<<"$text" || fail "the page does not describe $option"
done
for section in NAME SYNOPSIS DESCRIPTION OPTIONS COMMANDS FILES "EXIT STATUS"; do
  grep -q "^$section" <<<"$text" || fail "the page has no $section section"
done
echo "PASSED: $(wc -l <<<"$commands_in_help") commands and every option agree"
