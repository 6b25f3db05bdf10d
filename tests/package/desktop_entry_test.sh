#!/usr/bin/env bash
# The desktop entry passes desktop-file-validate without a word (a hint counts as a
# failure too), and names what the build installs.
# usage: desktop_entry_test.sh DESKTOP_FILE ICON_NAME PROGRAM...
set -uo pipefail
entry=$1
icon=$2
shift 2
status=0
fail() { echo "FAILED: $*"; status=1; }

command -v desktop-file-validate >/dev/null || { echo "desktop-file-validate is missing (scripts/setup installs it)"; exit 1; }
report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate exits with $?"
[ -z "$report" ] || fail "desktop-file-validate says: $report"

value() { awk -F= -v key="$1" '$1 == key { sub(/^[^=]*=/, ""); print; exit }' "$entry"; }
# Each key and what its value must be: the installed icon, the program Exec runs. (The
# window class StartupWMClass names is checked on the running program by install_test.sh.)
exec_program=$(value Exec | awk '{ print $1 }')
checks=(
  "Icon|$(value Icon)|$icon"
  "TryExec|$(value TryExec)|$exec_program"
)
for check in "${checks[@]}"; do
  IFS='|' read -r key got want <<<"$check"
  [ "$got" = "$want" ] || fail "$key is '$got', not '$want'"
done
found=0
for program in "$@"; do
  [ "$exec_program" = "$program" ] && found=1
done
[ "$found" = 1 ] || fail "Exec runs '$exec_program', which is none of the installed programs: $*"
exit $status
