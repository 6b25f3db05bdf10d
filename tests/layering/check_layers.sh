#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a folder its own folder may not use. Each
# folder may use the folders listed for it (and itself); everything else is above it.
set -euo pipefail
src=${1:?usage: check_layers.sh <src folder>}

declare -A allowed=(
  [media]=""
  [platform]=""
  [sim]="media"
  [app]="platform"
  [skin]="platform"
  [output]="media platform"
  [capture]="media platform app"
  [capture/v4l2]="media"
  [capture/gst]="media platform app sim capture capture/v4l2"
  [capture/display]="media platform app capture output"
  [browser]="media platform app output"
  [cli]="media platform app sim output capture capture/v4l2 capture/gst"
  [mainwindow]="media platform app sim skin output capture capture/v4l2 capture/gst capture/display browser"
)

status=0
while IFS= read -r -d '' file; do
  relative=${file#"$src"/}
  folder=$(dirname "$relative")
  [ "$folder" = . ] && continue  # the program's main() sits on top of everything
  if [ -z "${allowed[$folder]+set}" ]; then
    echo "$relative: folder $folder has no place in the layer table" >&2
    status=1
    continue
  fi
  while IFS= read -r header; do
    used=$(dirname "$header")
    [ "$used" = "$folder" ] && continue
    [ -d "$src/$used" ] || continue  # a system or generated header
    case " ${allowed[$folder]} " in
      *" $used "*) ;;
      *) echo "$relative includes $header: $used is above $folder" >&2; status=1 ;;
    esac
  done < <(sed -n 's/^#include "\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.h' -print0 -o -name '*.cpp' -print0)
exit $status
