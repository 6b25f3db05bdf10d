#!/usr/bin/env bash
# Installs the Debian package into a minimal Debian 12 and checks that it works there and
# leaves nothing behind:
#   1. a minimal bookworm made with debootstrap, from the mirror this machine's apt uses;
#   2. `apt-get install ./digital-microscope_*.deb` (with Xvfb and the X and GStreamer
#      tools the checks use), so that every Depends must come from the archive; no
#      Recommends;
#   3. every GStreamer element the programs make exists there;
#   4. digital-microscope --simulate under Xvfb, as an ordinary user with a German locale:
#      its window appears with the class the desktop entry names, and its trace names the
#      installed German language file and the installed manual;
#   5. digital-microscope-cli --help, and a still from the simulated microscope;
#   6. `apt-get purge` removes every file the package installed, and every folder that no
#      other package shares.
#
# usage: install_test.sh SOURCE_DIR WORK_DIR
#   WORK_DIR keeps the debootstrapped system (base.tar) and apt's downloads (archives/)
#   between runs, so that only the first run downloads them.
# The package is the one scripts/package builds (it builds it, or brings it up to date);
# DM_PACKAGE_DEB names a ready one instead. DM_INSTALL_TEST_DISPLAY is the X display number
# Xvfb takes inside the new system (8 unless told; X's abstract sockets are shared with
# this machine, so it must be one nobody else uses).
# Exits with 77 (skipped) when it cannot run here: not root, no debootstrap, or the archive
# out of reach.
set -euo pipefail

source_dir=$(realpath "$1")
work=$(realpath -m "$2")
display=${DM_INSTALL_TEST_DISPLAY:-8}
suite=bookworm
user=tester

say() { printf '[%(%H:%M:%S)T] install_test: %s\n' -1 "$*"; }
skip() { say "skipped: $*"; exit 77; }
fail() { say "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot, mount)"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"

# The mirror of this machine's apt sources for the suite, and the suite's other parts
# (updates, security) from the same sources: one-line and deb822 files alike. Prints
# "URI SUITE" lines.
apt_sources() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk '$1 == "deb" { i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                        print $i, $(i + 1) }' "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'function flush() { if (types ~ /(^| )deb( |$)/ && enabled != "no")
                              for (u in uris) for (s in suites) print uris[u], suites[s]
                            types = ""; enabled = ""; delete uris; delete suites }
         /^[ \t]*$/ { flush(); next }
         /^[ \t]*#/ { next }
         { key = tolower($1); sub(/:$/, "", key)
           if (key == "types") { types = ""; for (i = 2; i <= NF; i++) types = types " " $i }
           if (key == "enabled") enabled = tolower($2)
           if (key == "uris") for (i = 2; i <= NF; i++) uris[i] = $i
           if (key == "suites") for (i = 2; i <= NF; i++) suites[i] = $i }
         END { flush() }' "$file"
  done
}
sources=$(apt_sources | awk -v suite="$suite" '$2 == suite || index($2, suite "-") == 1' | sort -u)
mirror=$(awk -v suite="$suite" '$2 == suite { print $1; exit }' <<<"$sources")
[ -n "$mirror" ] || skip "no apt source of $suite on this machine"
mirror=${mirror%/}
mkdir -p "$work/archives"
/usr/lib/apt/apt-helper download-file "$mirror/dists/$suite/Release" "$work/Release" \
  >/dev/null 2>&1 || skip "the archive $mirror cannot be reached"
rm -f "$work/Release"
root=$work/root
base=$work/base.tar
started=$SECONDS

# --- Cleaning up: processes in the new system, then its mounts, whatever happened. ------
mounts=()
base_job=""
child=""
# Runs a long command in a process group of its own and waits for it: a signal to this
# script is handled at once (bash holds it back while a command runs in the foreground),
# and cleanup stops the whole group.
run() {
  local status=0
  setsid "$@" &
  child=$!
  wait "$child" || status=$?
  child=""
  return "$status"
}
stop_chroot_processes() {  # DIR: every process whose root is DIR
  local link pid
  for link in /proc/[0-9]*/root; do
    pid=${link#/proc/}
    pid=${pid%/root}
    if [ "$(readlink "$link" 2>/dev/null)" = "$1" ]; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
}
unmount_under() {  # DIR: whatever is mounted in DIR, deepest first
  local target
  findmnt -rn -o TARGET | awk -v dir="$1" 'index($0, dir "/") == 1' | sort -r |
    while IFS= read -r target; do
      umount "$target" 2>/dev/null || umount -l "$target" 2>/dev/null || true
    done
}
cleanup() {
  local i
  if [ -n "$child" ]; then
    kill -TERM -- "-$child" 2>/dev/null || true
  fi
  if [ -n "$base_job" ] && kill -0 "$base_job" 2>/dev/null; then
    kill -TERM -- "-$base_job" 2>/dev/null || true
    stop_chroot_processes "$work/base"
    wait "$base_job" 2>/dev/null || true
    unmount_under "$work/base"
  fi
  stop_chroot_processes "$root"
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || true
  done
  mounts=()
  unmount_under "$root"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
mount_in_root() {  # TYPE SOURCE TARGET [OPTIONS]
  mkdir -p "$root$3"
  mount -t "$1" "$2" "$root$3" ${4:+-o "$4"} || return
  mounts+=("$root$3")
}
bind_in_root() {  # SOURCE TARGET
  mkdir -p "$root$2"
  mount --bind "$1" "$root$2" || return
  mounts+=("$root$2")
}
chroot_command=(chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin)
in_root() { "${chroot_command[@]}" "$@"; }

# What a run that was killed (a timeout) may have left.
stop_chroot_processes "$root"
unmount_under "$root"

# --- The package, and the minimal system, made side by side the first time. ------------
base_log=$work/debootstrap.log
if [ ! -f "$base" ]; then
  say "debootstrap $suite from $mirror (log: $base_log)"
  unmount_under "$work/base"
  rm -rf --one-file-system "$work/base"
  # In a session of its own, so that cleanup can stop all of it.
  setsid bash -c 'set -e
    debootstrap --variant=minbase "$1" "$2/base" "$3" >"$2/debootstrap.log" 2>&1
    rm -f "$2/base/var/cache/apt/archives/"*.deb
    tar -C "$2/base" --one-file-system -cf "$2/base.tar.part" .
    mv "$2/base.tar.part" "$2/base.tar"
    rm -rf --one-file-system "$2/base"' debootstrap "$suite" "$work" "$mirror" &
  base_job=$!
fi
if [ -n "${DM_PACKAGE_DEB:-}" ]; then
  deb=$(realpath "$DM_PACKAGE_DEB")
else
  say "building the package with scripts/package (log: $work/package.log)"
  run "$source_dir/scripts/package" >"$work/package.path" 2>"$work/package.log" ||
    { tail -n 30 "$work/package.log"; fail "scripts/package"; }
  deb=$(cat "$work/package.path")
fi
[ -f "$deb" ] || fail "no package at '$deb'"
if [ -n "$base_job" ]; then
  status=0
  wait "$base_job" || status=$?
  [ "$status" -eq 0 ] || { tail -n 30 "$base_log"; fail "debootstrap"; }
  base_job=""
fi
say "package $deb; minimal system ready after $((SECONDS - started)) s"

# --- A fresh copy of the minimal system, with the package installed. -------------------
rm -rf --one-file-system "$root"
mkdir -p "$root"
tar -C "$root" -xf "$base"
cp /etc/resolv.conf "$root/etc/resolv.conf"
awk '{ print "deb", $1, $2, "main" }' <<<"$sources" >"$root/etc/apt/sources.list"
# No services start inside, and nothing waits for a question.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount_in_root proc proc /proc
mount_in_root sysfs sysfs /sys ro
bind_in_root /dev /dev
mount_in_root devpts devpts /dev/pts newinstance,ptmxmode=0666
mount_in_root tmpfs tmpfs /dev/shm mode=1777
bind_in_root "$work/archives" /var/cache/apt/archives

cp "$deb" "$root/tmp/"
chmod 644 "$root/tmp/$(basename "$deb")"
say "apt-get install ./$(basename "$deb") xvfb x11-utils gstreamer1.0-tools"
run "${chroot_command[@]}" apt-get update -qq >"$work/apt.log" 2>&1 ||
  { tail "$work/apt.log"; fail "apt-get update"; }
run "${chroot_command[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "/tmp/$(basename "$deb")" xvfb x11-utils gstreamer1.0-tools >>"$work/apt.log" 2>&1 ||
  { tail -n 30 "$work/apt.log"; fail "apt-get install of the package"; }
say "installed after $((SECONDS - started)) s"
in_root dpkg -L digital-microscope >"$work/package-files.txt"

# --- Every GStreamer element the programs make, from the dependencies alone. ------------
# The names passed to gst_element_factory_make and its wrappers in src/, and what playbin
# needs for the recordings: the AVI demuxer and the decoders of the recording codecs.
mapfile -t elements < <(
  grep -rhoE '(gst_element_factory_make|MakeElement|Element)\("[a-z0-9]+"' "$source_dir/src" |
    sed -E 's/.*\("([a-z0-9]+)"/\1/'
  printf '%s\n' autoaudiosink avidemux jpegdec avdec_msvideo1 avdec_ffv1 avdec_huffyuv \
    avdec_mpeg4 avdec_h264
)
mapfile -t elements < <(printf '%s\n' "${elements[@]}" | sort -u)
[ "${#elements[@]}" -gt 10 ] || fail "found only ${#elements[@]} GStreamer elements in src/"
missing=()
for element in "${elements[@]}"; do
  in_root gst-inspect-1.0 --exists "$element" || missing+=("$element")
done
[ "${#missing[@]}" -eq 0 ] || fail "GStreamer elements missing after the install: ${missing[*]}"
say "all ${#elements[@]} GStreamer elements are there"

# --- The window, as an ordinary user. ---------------------------------------------------
in_root useradd --create-home --shell /bin/sh "$user"
in_root install -d -m 700 -o "$user" -g "$user" "/run/user-$user"
as_user() {
  chroot --userspec="$user:$user" "$root" /usr/bin/env -i PATH=/usr/bin:/bin \
    HOME="/home/$user" USER="$user" XDG_RUNTIME_DIR="/run/user-$user" "$@"
}
in_root Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
for ((i = 0; i < 100; i++)); do
  [ -S "$root/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
[ -S "$root/tmp/.X11-unix/X$display" ] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }

trace=$work/program-trace.log
as_user DISPLAY=":$display" LANG=de_DE.UTF-8 QT_LOGGING_RULES="microscope.trace.debug=true" \
  digital-microscope --simulate >"$trace" 2>&1 &
window=""
for ((i = 0; i < 300; i++)); do
  window=$(as_user DISPLAY=":$display" xwininfo -root -tree 2>/dev/null |
             grep -F '("digital-microscope" ' || true)
  if [ -n "$window" ] && grep -q 'Manual: ' "$trace"; then
    break
  fi
  sleep 0.2
done
[ -n "$window" ] || { tail -n 30 "$trace"; fail "no window of class digital-microscope"; }
say "window:$(head -n 1 <<<"$window")"
wm_class=$(awk -F= '$1 == "StartupWMClass" { print $2 }' \
             "$root/usr/share/applications/digital-microscope.desktop")
grep -qF "(\"digital-microscope\" \"$wm_class\")" <<<"$window" ||
  fail "the desktop entry's StartupWMClass '$wm_class' is not the window's class"
checks=(
  "Language file: /usr/share/digital-microscope/German1252.ini"
  "Manual: /usr/share/doc/digital-microscope/manual/index.html"
)
for line in "${checks[@]}"; do
  grep -qF "$line" "$trace" || { grep -E 'Language file|Manual' "$trace" || true
                                  fail "the trace does not say '$line'"; }
done
[ -f "$root/usr/share/doc/digital-microscope/manual/index.html" ] ||
  fail "the manual the program names is not installed"
stop_chroot_processes "$root"
say "the program ran; its trace names the installed language file and manual"

# --- The command line program. ----------------------------------------------------------
help=$(as_user digital-microscope-cli --help) || fail "digital-microscope-cli --help"
grep -q '^Usage: digital-microscope-cli' <<<"$help" || fail "unexpected help: $help"
still=$(as_user digital-microscope-cli --simulate snap 2>"$work/cli.log") ||
  { cat "$work/cli.log"; fail "digital-microscope-cli --simulate snap"; }
[ -s "$root$still" ] || fail "the still '$still' was not written"
say "digital-microscope-cli runs and took $still"

# --- Purging leaves nothing of the package. ---------------------------------------------
run "${chroot_command[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q digital-microscope \
  >>"$work/apt.log" 2>&1 || { tail "$work/apt.log"; fail "apt-get purge"; }
left=()
while IFS= read -r path; do
  [ "$path" = /. ] && continue
  if [ -L "$root$path" ] || [ -f "$root$path" ]; then
    left+=("$path")
  elif [ -d "$root$path" ] && ! in_root dpkg-query -S "$path" >/dev/null 2>&1; then
    left+=("$path/")
  fi
done <"$work/package-files.txt"
[ "${#left[@]}" -eq 0 ] || fail "left after the purge: ${left[*]}"
say "purged: none of the package's $(wc -l <"$work/package-files.txt") paths is left"
say "passed in $((SECONDS - started)) s"
cleanup
rm -rf --one-file-system "$root"
