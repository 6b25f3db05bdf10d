#!/usr/bin/env bash
# The manual pages, as installed (compressed): man formats them without a warning, and
# each tells what its program's --help tells: the version, every option, every environment
# variable, and for digital-microscope-cli every command with its options and every exit
# status.
# usage: man_pages_test.sh BIN_DIR MAN_DIR
set -uo pipefail
bin_dir=$1
man_dir=$2
status=0
fail() { echo "FAILED: $*"; status=1; }

command -v man >/dev/null || { echo "man is missing (scripts/setup installs man-db)"; exit 1; }

# Every program and its page.
pages=(
  "digital-microscope|digital-microscope.1.gz"
  "digital-microscope-cli|digital-microscope-cli.1.gz"
)

# The page as text, one section: the lines after the heading up to the next heading.
section() { awk -v name="$1" '/^[A-Z]/ { inside = ($0 == name); next } inside'; }
# Whether TEXT has a line that starts a tagged paragraph with WORD: at the page's indent
# (seven spaces) or, with a third argument, inside another one (deeper).
has_tag() {
  local indent="       "
  [ $# -lt 3 ] || indent="        +"
  grep -qE "^$indent$(sed 's/[+.]/\\&/g' <<<"$2")( |$)" <<<"$1"
}
has_word() { grep -qE -- "(^|[] ,[(|])$(sed 's/[+.]/\\&/g' <<<"$2")([] ,=[|.;)]|$)" <<<"$1"; }

# The options a help text defines, on lines such as "  -h, --help ..." or "  --count N ...".
option_names() {
  grep -oE -- '^ +(-[a-z], )?--?[a-z][a-z-]*' | grep -oE -- '--?[a-z][a-z-]*' | sort -u
}

for row in "${pages[@]}"; do
  program=${row%%|*}
  page=$man_dir/${row#*|}
  [ -f "$page" ] || { fail "$page is missing"; continue; }
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
  text=$(LC_ALL=C MANWIDTH=200 man -l "$page" 2>/dev/null)
  help=$("$bin_dir/$program" --help) || { fail "$program --help"; continue; }

  version=$("$bin_dir/$program" --version | awk '{ print $NF }')
  tail -n 1 <<<"$text" | grep -qF " $version " || fail "$page: not of version $version"

  options=$(section OPTIONS <<<"$text")
  for option in $(option_names <<<"$help"); do
    has_word "$options" "$option" || fail "$page: option $option is not in OPTIONS"
  done
  environment=$(section ENVIRONMENT <<<"$text")
  # "DIGITAL_MICROSCOPE_SIMULATE=microscope|camera has the effect of --simulate."
  for variable in $(grep -oE '^[A-Z][A-Z0-9_]+=' <<<"$help" | tr -d = | sort -u); do
    has_tag "$environment" "$variable" || fail "$page: $variable is not in ENVIRONMENT"
  done

  commands=$(sed -n '/^Commands:$/,/^$/p' <<<"$help" | awk '/^  [a-z]/ { print $1 }')
  commands_text=$(section COMMANDS <<<"$text")
  for command in $commands; do
    has_tag "$commands_text" "$command" || fail "$page: command $command is not in COMMANDS"
    command_help=$("$bin_dir/$program" "$command" --help) || fail "$program $command --help"
    for option in $(option_names <<<"$command_help"); do
      has_tag "$commands_text" "$option" nested ||
        fail "$page: $command's option $option is not in COMMANDS"
    done
  done
  # "Exit status: 0 success, 1 wrong usage, ... 128+N stopped by signal N (...)."
  exit_help=$(sed -n '/^Exit status:/,/^$/p' <<<"$help" | tr '\n' ' ')
  exit_text=$(section "EXIT STATUS" <<<"$text")
  for code in $(grep -oE '(: |, )[0-9]+(\+N)? ' <<<"$exit_help" | tr -d ':, '); do
    has_tag "$exit_text" "$code" || fail "$page: exit status $code is not in EXIT STATUS"
  done
  if [ "$program" = digital-microscope-cli ]; then
    # The parsing above must have found what is there to compare.
    [ "$(wc -w <<<"$commands")" -ge 7 ] || fail "found only the commands '$commands' in the help"
    [ -n "$(grep -oE '^[A-Z][A-Z0-9_]+=' <<<"$help")" ] || fail "found no variable in the help"
    [ -n "$exit_help" ] || fail "found no exit status in the help"
  fi
done
exit $status
