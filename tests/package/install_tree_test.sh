#!/usr/bin/env bash
# `cmake --install` puts every file where a desktop finds it, and nothing else: the
# programs, the language files, the desktop entry, the icons (each of the size its folder
# names), the AppStream file, the manual pages and the manual; and the installed AppStream
# data passes appstreamcli's check of the whole tree.
# usage: install_tree_test.sh BUILD_DIR STAGE_DIR PREFIX SOURCE_DIR APPSTREAM_ID
set -uo pipefail
build=$1
stage=$2
prefix=$3
source_dir=$4
appstream_id=$5
status=0
fail() { echo "FAILED: $*"; status=1; }

rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" >"$stage.log" 2>&1 || { cat "$stage.log"; exit 1; }
[ -d "$stage$prefix" ] || { echo "FAILED: nothing installed under $prefix"; exit 1; }
outside=$(cd "$stage" && find . -mindepth 1 \( -type f -o -type l \) | sed 's/^\.//' |
            grep -vF "$prefix/" || true)
[ -z "$outside" ] || fail "installed outside $prefix: $outside"

# Every file expected under the prefix. The manual's own pictures and style sheets may
# come with it; nothing else may.
expected=(
  bin/digital-microscope
  bin/digital-microscope-cli
  share/applications/digital-microscope.desktop
  "share/metainfo/$appstream_id.metainfo.xml"
  share/man/man1/digital-microscope.1.gz
  share/man/man1/digital-microscope-cli.1.gz
  share/doc/digital-microscope/manual/index.html
)
sizes=(16 32 48 64 128 256)
for size in "${sizes[@]}"; do
  expected+=("share/icons/hicolor/${size}x$size/apps/digital-microscope.png")
done
languages=0
for file in "$source_dir"/resources/lang/*.ini; do
  expected+=("share/digital-microscope/$(basename "$file")")
  languages=$((languages + 1))
done
[ "$languages" -eq 21 ] || fail "resources/lang has $languages language files, not 21"

declare -A is_expected is_installed
for path in "${expected[@]}"; do
  is_expected[$path]=1
done
while IFS= read -r path; do
  is_installed[$path]=1
  case "$path" in share/doc/digital-microscope/manual/*) continue ;; esac
  [ -n "${is_expected[$path]:-}" ] || fail "installed but not expected: $prefix/$path"
done < <(cd "$stage$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||')
for path in "${expected[@]}"; do
  [ -n "${is_installed[$path]:-}" ] || fail "not installed: $prefix/$path"
done

for program in digital-microscope digital-microscope-cli; do
  [ -x "$stage$prefix/bin/$program" ] || fail "$program is not executable"
done
# A PNG's width and height are the big-endian numbers at bytes 16 and 20.
for size in "${sizes[@]}"; do
  icon=$stage$prefix/share/icons/hicolor/${size}x$size/apps/digital-microscope.png
  [ -f "$icon" ] || continue
  got=$(od -An -tu1 -j16 -N8 "$icon" |
          awk '{ printf "%dx%d", $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
  [ "$got" = "${size}x$size" ] || fail "the icon in ${size}x$size is $got"
done
for page in digital-microscope.1.gz digital-microscope-cli.1.gz; do
  file=$stage$prefix/share/man/man1/$page
  [ ! -f "$file" ] || gzip -t "$file" || fail "$page is not a whole gzip file"
done
# The installed AppStream data, desktop entry and icon fit together (the entry the
# AppStream data launches is there, and so on).
report=$(appstreamcli validate-tree --no-net --strict "$stage$prefix" 2>&1) ||
  fail "appstreamcli validate-tree: $report"
exit $status
