#!/usr/bin/env bash
# A new user's first hour on a fresh Debian 12: a minimal root file system, the README's two
# commands in it as root, then the .deb on a second fresh root, started the way the menu does.
# Prints how long each phase took. Needs root, debootstrap and the network to Debian's mirror.
# Usage: bench/fresh_debian/run.sh [WORKDIR]   (default /tmp/vamplet-fresh; about 6 GB)
set -euo pipefail
SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK="${1:-/tmp/vamplet-fresh}"
MIRROR="${MIRROR:-http://deb.debian.org/debian}"
DISPLAY_NO=97
mkdir -p "$WORK"
cd "$WORK"

mounted=()
mount_into() {  # the chroot sees the host's kernel files and the test display's socket
  local root="$1"
  for d in proc sys dev dev/pts tmp/.X11-unix; do
    mkdir -p "$root/$d"
    mount --bind "/$d" "$root/$d"
    mounted+=("$root/$d")
  done
  cp /etc/resolv.conf "$root/etc/resolv.conf"
}
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

phase() { printf '%-44s %6d s\n' "$1" "$2" | tee -a "$WORK/times.txt"; }
: >"$WORK/times.txt"

# A window named like the player's on the shared display, bounded by $2 seconds.
wait_window() {
  local deadline=$((SECONDS + $2))
  until DISPLAY=:$DISPLAY_NO xwininfo -root -tree 2>/dev/null | grep -q "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 1
  done
}

Xvfb :$DISPLAY_NO -screen 0 1280x1024x24 -nolisten tcp &
xvfb_pid=$!
sleep 2
DISPLAY=:$DISPLAY_NO openbox --sm-disable >/dev/null 2>&1 &

t=$SECONDS
if [ ! -d base ]; then
  debootstrap --variant=minbase bookworm base.tmp "$MIRROR" >debootstrap.log 2>&1
  mv base.tmp base
fi
phase "debootstrap (minbase)" $((SECONDS - t))

rm -rf root1 root2
cp -a base root1
cp -a base root2
git -C "$SRC" archive --format=tar --prefix=vamplet/ HEAD | tar -x -C root1/root
mount_into "$PWD/root1"
in1() { chroot "$PWD/root1" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin DISPLAY=:$DISPLAY_NO "$@"; }

t=$SECONDS
in1 bash -c 'cd /root/vamplet && scripts/run.sh' >run.log 2>&1 &
run_pid=$!
if wait_window "Vamplet - Version" 7200; then
  phase "scripts/run.sh to the player window" $((SECONDS - t))
else
  phase "scripts/run.sh: NO WINDOW (see run.log)" $((SECONDS - t))
fi
pkill -f /root/vamplet/build/release/vamplet || true
wait "$run_pid" 2>/dev/null || true

t=$SECONDS
if in1 bash -c 'cd /root/vamplet && unset DISPLAY && scripts/test.sh' >test.log 2>&1; then
  phase "scripts/test.sh (passed)" $((SECONDS - t))
else
  phase "scripts/test.sh (FAILED, see test.log)" $((SECONDS - t))
fi
tail -n 3 test.log | tee -a times.txt

t=$SECONDS
in1 bash -c 'cd /root/vamplet/build/release && cpack -G DEB' >cpack.log 2>&1
deb="$(ls root1/root/vamplet/build/release/*.deb | head -n 1)"
phase "cpack -G DEB" $((SECONDS - t))

cp "$deb" root2/root/
mount_into "$PWD/root2"
in2() { chroot "$PWD/root2" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin DISPLAY=:$DISPLAY_NO "$@"; }
t=$SECONDS
in2 bash -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /root/*.deb' >deb.log 2>&1
phase "apt-get install ./vamplet.deb (fresh root)" $((SECONDS - t))

# Started as the menu starts it: the desktop entry's Exec line, without its field codes.
exec_line="$(grep -m1 '^Exec=' root2/usr/share/applications/io.github.vamplet.Vamplet.desktop | sed -E 's/^[^=]*=//; s/ %[fFuU]//g')"
t=$SECONDS
in2 bash -c "$exec_line" >start.log 2>&1 &
if wait_window "Vamplet - Version" 120; then
  phase "menu entry to the player window" $((SECONDS - t))
else
  phase "menu entry: NO WINDOW (see start.log)" $((SECONDS - t))
fi
sleep 3  # painted, for the picture
DISPLAY=:$DISPLAY_NO import -window root "$WORK/deb-started.png" 2>/dev/null || true
pkill -f '^vamplet$' || true
echo "Times in $WORK/times.txt; logs beside it."
