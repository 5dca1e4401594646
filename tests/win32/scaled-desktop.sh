#!/usr/bin/env bash
# Runs a Windows test program under Wine at a display scaling and on a
# screen of its own: the scaling (LogPixels: 96 is 100 %, 144 is 150 %) set
# in a private copy of the shared Wine prefix, whose registry files are real
# copies so that nothing reaches the shared ones, and a private X server of
# the screen's size (Wine's desktop takes the whole X screen).
#
# usage: scaled-desktop.sh SHARED_PREFIX LOGPIXELS WIDTHxHEIGHT WINE_RUN PROGRAM [ARGS...]
set -euo pipefail
shared=$1 dpi=$2 screen=$3 wine_run=$4
shift 4

work=$(mktemp -d)
prefix=$work/prefix
xserver=
finish() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  if [ -n "$xserver" ]; then kill "$xserver" 2>/dev/null || true; wait "$xserver" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap finish EXIT

cp -al "$shared" "$prefix"
for hive in system.reg user.reg userdef.reg; do
  rm "$prefix/$hive"
  cp "$shared/$hive" "$prefix/$hive"
done
export WINEPREFIX=$prefix WINEDEBUG=-all
for key in 'HKCU\Control Panel\Desktop' 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
  wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
done
# The registry written out and this server's processes gone before the
# test starts: they took the scaling at their start.
wineserver -w

Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xserver=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display") QUORVEL_TEST_WINEPREFIX=$prefix
unset CTEST_RESOURCE_GROUP_0_DISPLAYS
"$wine_run" "$@"
