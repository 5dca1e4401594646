#!/usr/bin/env bash
# The Windows package under Wine, as an operator meets it: the installer
# refuses a folder it cannot write and installs silently for this user
# (program, qv-download.exe, caddy.exe, Caddyfile, README.txt, uninstaller,
# Start-menu shortcut, an uninstall entry that names the publisher, version,
# size and place), each program carries its version block; qv-download.exe
# from the installed directory and from the portable zip fetches files
# byte-exact from the demo services (a Chinese name among them). Over a
# running client (and a server of its directory) a silent upgrade and a
# silent uninstall change nothing and fail; the uninstaller run by hand,
# answered with Enter throughout, closes both, removes the program and
# keeps the cache; once the program has ended, both succeed silently.
#
# It runs in a private copy of the Wine prefix, whose registry the
# installer writes, on the X display ctest gave it (the resource
# "displays"), where the client and the uninstaller show their windows.
#
#   tests/windows-install-test.sh BUILD_WIN_DIR LINUX_BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd) linux=$(cd "$2" && pwd)
source "$build/wine.env"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
if [[ ${CTEST_RESOURCE_GROUP_0_DISPLAYS:-} =~ ^id:([^,]+) ]]; then
  export DISPLAY=:${BASH_REMATCH[1]}
fi
work=$(mktemp -d)
started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp -al "$WINEPREFIX" "$work/prefix"
for file in system.reg user.reg userdef.reg; do
  cp --remove-destination "$WINEPREFIX/$file" "$work/prefix/$file"
done
export WINEPREFIX=$work/prefix
"$linux/bin/quorvel-demo-services" 0 >"$work/server.txt" &
started+=($!)
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
ended() { ! kill -0 "$1" 2>/dev/null; }
# wait_end SECONDS PID: whether PID ends within SECONDS.
wait_end() { timeout "$1" tail --pid="$2" -f /dev/null; }

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
version=${setup##*/quorvel-client-} version=${version%-setup.exe}
target=$work/Quorvel
install() { timeout 120 wine "$setup" /S "/D=$(winpath "$1")"; }
# _?= runs the uninstaller in place, so it ends before this script goes on.
uninstall() { timeout 120 wine "$target/uninstall.exe" "$@" "_?=$(winpath "$target")"; }
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\quorvel-client'
no_entry() { ! wine reg query "$key" >/dev/null 2>&1; }
# entry_has NAME TYPE VALUE: the uninstall entry holds that value (reg
# writes in the console's code page, 936 here).
entry_has() { wine reg query "$key" /v "$1" 2>/dev/null | iconv -f GBK -t UTF-8 | tr -d '\r' | grep -qxE "\s+$1\s+$2\s+$3"; }
shortcut() { find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/*' -name 'Quorvel加速场控.lnk'; }
shipped=(quorvel-client.exe qv-download.exe caddy.exe Caddyfile README.txt)
# untouched WHEN: the installed program is the one installed first, and its entry is there.
untouched() {
  local file
  for file in "${shipped[@]}" uninstall.exe; do
    check "$1: $file untouched" cmp -s "$target/$file" "$work/installed/$file"
  done
  check "$1: the uninstall entry is kept" entry_has DisplayName REG_SZ 'Quorvel加速场控'
}
# silent_runs_fail WHILE: a silent upgrade and a silent uninstall fail and change nothing.
silent_runs_fail() {
  install "$target"
  check "a silent upgrade while $1 fails" test $? -ne 0
  untouched "after the upgrade while $1"
  uninstall /S
  check "a silent uninstall while $1 fails" test $? -ne 0
  untouched "after the uninstall while $1"
}

# A folder this user cannot write (as root, only a file system that takes no
# files, /proc, is one): refused, and nothing installed.
install /proc/Quorvel
check "a folder that cannot be written fails the install" test $? -ne 0
check "nor does it leave an uninstall entry" no_entry

install "$target"
check "the silent install succeeds" test $? -eq 0
for file in "${shipped[@]}" uninstall.exe; do
  check "installed $file" test -f "$target/$file"
done
check "Start-menu shortcut" test -n "$(shortcut)"
size=$(cat "$target"/* | wc -c)
for row in "DisplayName REG_SZ Quorvel加速场控" "Publisher REG_SZ Quorvel" "DisplayVersion REG_SZ $version" \
  "InstallLocation REG_SZ $(winpath "$target" | sed 's/\\/\\\\/g')" \
  "EstimatedSize REG_DWORD 0x$(printf %x $(((size + 1023) / 1024)))"; do
  check "uninstall entry: $row" entry_has $row
done
check "the README starts with a byte-order mark" test "$(head -c 3 "$target/README.txt" | xxd -p)" = efbbbf
for program in quorvel-client qv-download; do
  x86_64-w64-mingw32-windres -J coff -O rc "$target/$program.exe" >"$work/$program.rc" 2>/dev/null
  # windres writes the text beyond ASCII as UTF-16 escapes: Quorvel加速场控.
  for row in "CompanyName\", \"Quorvel\"" "ProductVersion\", \"$version\"" "FileVersion\", \"$version\"" \
    "OriginalFilename\", \"$program.exe\"" 'ProductName", L"Quorvel\x52a0\x901f\x573a\x63a7"'; do
    check "$program.exe: $row" grep -qF "VALUE \"$row" "$work/$program.rc"
  done
done
for setting in 'level="asInvoker"' '<longPathAware' '<supportedOS'; do
  check "qv-download.exe's manifest: $setting" grep -qF "$setting" "$target/qv-download.exe"
done
fetch "$target"
mkdir -p "$target/assets/video" && echo cached >"$target/assets/video/kept.mp4"
cp -r "$target" "$work/installed"

# The client runs (at its login window), and a server of its directory (with
# nothing to serve) as one left behind would.
wine "$target/quorvel-client.exe" >/dev/null 2>&1 &
client=$!
started+=("$client")
echo '{"admin": {"disabled": true}}' >"$work/idle.json"
wine "$target/caddy.exe" run --config "$(winpath "$work/idle.json")" >/dev/null 2>&1 &
server=$!
started+=("$server")
check "the client shows its login window" \
  timeout 60 xdotool search --sync --limit 1 --name '^Quorvel加速场控登录$' >/dev/null
silent_runs_fail "the client runs"
check "the silent runs left the client running" kill -0 "$client"
check "and the server" kill -0 "$server"

# By hand, each question answered with Enter (the focused window's default
# button) as it comes: start, close the running program, keep the cache,
# close. (A key that comes before the window has the keyboard is lost and
# given again.)
wine "$target/uninstall.exe" "_?=$(winpath "$target")" >/dev/null 2>&1 &
uninstaller=$!
started+=("$uninstaller")
for _ in $(seq 90); do
  wait_end 1 "$uninstaller" && break
  # The newest of its windows (a question, else its own), topmost: a
  # click near its top edge gives it the keyboard.
  window=$(xdotool search --onlyvisible --name '^Quorvel加速场控 卸载' 2>/dev/null | tail -1)
  [ -n "$window" ] || continue
  eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
  xdotool mousemove --window "$window" $((WIDTH / 2)) 6 click 1 2>/dev/null
  xdotool key Return 2>/dev/null
done
wait_end 1 "$uninstaller" || kill "$uninstaller"
wait "$uninstaller"
check "the uninstall by hand succeeds" test $? -eq 0
check "it closed the client" wait_end 30 "$client"
check "and ended the server" wait_end 30 "$server"
for file in "${shipped[@]}"; do
  check "uninstalled $file" test ! -e "$target/$file"
done
check "the client's lock file is removed" test ! -e "$target/quorvel-client.lock"
check "Enter keeps the cache" test -f "$target/assets/video/kept.mp4"
check "the uninstall entry is removed" no_entry
check "shortcut removed" test -z "$(shortcut)"

# With the program ended, the silent runs succeed, and the cache stays; but
# not while a file of it is in use (qv-download.exe still downloading).
install "$target"
check "a silent install over the kept cache succeeds" test $? -eq 0
mkdir -p "$work/slow"
(cd "$work/slow" && exec wine "$target/qv-download.exe" "$content/3000000/slow.bin?rate=10000" >/dev/null 2>&1) &
download=$!
started+=("$download")
check "qv-download.exe downloads" timeout 60 sh -c "until [ -e '$work/slow/slow.bin.tmp!' ]; do sleep 0.1; done"
silent_runs_fail "qv-download.exe runs"
kill "$download"
wait_end 30 "$download"
uninstall /S
check "the silent uninstall succeeds" test $? -eq 0
for file in "${shipped[@]}"; do
  check "silently uninstalled $file" test ! -e "$target/$file"
done
check "the silent uninstall keeps the cache" test -f "$target/assets/video/kept.mp4"
check "and removes the uninstall entry" no_entry

unzip -q "$build"/quorvel-client-*-win64.zip -d "$work/zip"
for file in "${shipped[@]}"; do
  check "zip holds $file" test -f "$work/zip/quorvel-client/$file"
done
fetch "$work/zip/quorvel-client"

echo "windows package: $passed passed, $failed failed"
[ "$failed" = 0 ]
