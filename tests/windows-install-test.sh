#!/usr/bin/env bash
# The Windows package under Wine, as an operator meets it: the installer
# installs silently for this user (program, qv-download.exe, caddy.exe,
# Caddyfile, uninstaller, Start-menu shortcut, uninstall entry);
# qv-download.exe from the installed directory and from the portable zip
# fetches files byte-exact from the demo services (a Chinese name among
# them); the silent uninstall removes the program and keeps the cache.
#
#   tests/windows-install-test.sh BUILD_WIN_DIR LINUX_BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd) linux=$(cd "$2" && pwd)
source "$build/wine.env"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
work=$(mktemp -d)
server_pid=
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
"$linux/bin/quorvel-demo-services" 0 >"$work/server.txt" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/server.txt" ] && break; sleep 0.05; done
content=$(sed -n 's/^demo services on //p' "$work/server.txt")/content

passed=0 failed=0
check() {  # check WHAT COMMAND...: fails the test when COMMAND fails
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAILED: $what"
    failed=$((failed + 1))
  fi
}
winpath() { echo "Z:${1//\//\\}"; }

# fetch DIR: qv-download.exe of DIR fetches two files; compared with curl's copies.
fetch() {
  local dir=$1 out=$work/out-${1##*/}
  mkdir -p "$out"
  for name in big.bin %E4%B8%AD%E6%96%87.bin; do
    (cd "$out" && timeout 120 wine "$dir/qv-download.exe" "$content/3000000/$name" >/dev/null 2>&1)
    curl -s "$content/3000000/$name" -o "$work/expected"
    local saved=$out/$(printf '%b' "${name//%/\\x}")
    check "qv-download.exe in $dir fetched $name byte-exact" cmp -s "$saved" "$work/expected"
  done
}

setup=$(ls "$build"/quorvel-client-*-setup.exe)
target=$work/Quorvel
timeout 120 wine "$setup" /S "/D=$(winpath "$target")"
for file in quorvel-client.exe qv-download.exe caddy.exe Caddyfile uninstall.exe; do
  check "installed $file" test -f "$target/$file"
done
shortcut() { find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/*' -name 'Quorvel加速场控.lnk'; }
check "Start-menu shortcut" test -n "$(shortcut)"
check "uninstall entry" sh -c "wine reg query 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\quorvel-client' 2>/dev/null | grep -q DisplayName"
fetch "$target"

mkdir -p "$target/assets/video" && echo cached >"$target/assets/video/kept.mp4"
# _?= runs the uninstaller in place, so it ends before this script goes on.
timeout 120 wine "$target/uninstall.exe" /S "_?=$(winpath "$target")"
for file in quorvel-client.exe qv-download.exe caddy.exe Caddyfile; do
  check "uninstalled $file" test ! -e "$target/$file"
done
check "shortcut removed" test -z "$(shortcut)"
check "the cache is kept" test -f "$target/assets/video/kept.mp4"

unzip -q "$build"/quorvel-client-*-win64.zip -d "$work/zip"
for file in quorvel-client.exe qv-download.exe caddy.exe Caddyfile; do
  check "zip holds $file" test -f "$work/zip/quorvel-client/$file"
done
fetch "$work/zip/quorvel-client"

echo "windows package: $passed passed, $failed failed"
[ "$failed" = 0 ]
