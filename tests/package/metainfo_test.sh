#!/usr/bin/env bash
# The AppStream file passes `appstreamcli validate` without an error, a warning or an
# info, and says what the build has: its newest release is the project's version, it
# launches the installed desktop entry and provides the installed programs. With a
# homepage, the homepage link and every screenshot lie under it, and each screenshot is a
# picture the build put into its screenshots folder; without one, neither is there.
# usage: metainfo_test.sh METAINFO VERSION HOMEPAGE SCREENSHOT_DIR DESKTOP_ID PROGRAM...
#   HOMEPAGE is the one the file was configured with ("" for none).
set -uo pipefail
metainfo=$1
version=$2
homepage=${3%/}
screenshot_dir=$4
desktop_id=$5
shift 5
programs=("$@")
status=0
fail() { echo "FAILED: $*"; status=1; }

for tool in appstreamcli xmllint; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup installs it)"; exit 1; }
done
# Pedantic hints are left out; anything else, even an info, is a failure.
report=$(appstreamcli validate --no-net --strict "$metainfo" 2>&1) ||
  fail "appstreamcli validate: $report"
grep -E '^[EWI]:' <<<"$report" && fail "appstreamcli validate has remarks"

# The values of an XPath, one a line.
values() { xmllint --xpath "$1" "$metainfo" 2>/dev/null | sed -e 's/^ *//' -e '/^$/d'; }
sorted() { printf '%s\n' "$@" | sort; }
# What the file says, and what it must be: "what|got|wanted", lists one item a line.
checks=(
  "newest release|$(values 'string(/component/releases/release[1]/@version)')|$version"
  "release notes of $version|$(values "count(/component/releases/release[@version='$version']/description/*) > 0")|true"
  "launchable|$(values '/component/launchable[@type="desktop-id"]/text()')|$desktop_id"
  "provided programs|$(sorted $(values '/component/provides/binary/text()'))|$(sorted "${programs[@]}")"
  "homepage link|$(values '/component/url[@type="homepage"]/text()')|${homepage:+$homepage/}"
)
if [ -z "$homepage" ]; then
  checks+=("screenshots|$(values 'count(//screenshot)')|0")
else
  images=$(values '//screenshot/image/text()')
  checks+=("a screenshot|$([ -n "$images" ] && echo yes)|yes")
  while IFS= read -r image; do
    [ -n "$image" ] || continue
    name=${image#"$homepage/screenshots/"}
    checks+=("screenshot $image|$([ "$name" != "$image" ] && [ -f "$screenshot_dir/$name" ] && echo published)|published")
  done <<<"$images"
fi
for check in "${checks[@]}"; do
  what=${check%%|*}
  rest=${check#*|}
  got=${rest%|*}
  want=${rest##*|}
  # A list's items are one a line; the separator "|" cannot be part of them.
  [ "$got" = "$want" ] || fail "$what: '$got', wanted '$want'"
done
exit $status
