#!/usr/bin/env bash
# qv-download.exe under Wine as users of Windows meet it, in the code pages
# of an English (1252), a Taiwanese (950) and a Chinese (936) system: names
# outside the code page in URLs, arguments, lists and output (UTF-8 into a
# file or pipe), lists as Windows editors save them, paths written with
# backslashes, and the messages of a failed connection.
#
#   tests/windows-cli-test.sh BUILD_WIN_DIR LINUX_BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
demo=$(cd "$2" && pwd)/bin/quorvel-demo-services
source "$build/wine.env"
source "$(dirname "$0")/cli-rows.sh"
qv=$build/bin/qv-download.exe
winpath() { echo "Z:${1//\//\\}"; }
out=$(winpath "$work/out")

# Outside each of the three code pages, and a fullwidth "..\..\" that a
# best-fit conversion to 1252 would turn into a way out of the folder.
name=한글ä®•😀中文
encoded=%ED%95%9C%EA%B8%80%C3%A4%C2%AE%E2%80%A2%F0%9F%98%80%E4%B8%AD%E6%96%87
escape=%EF%BC%8E%EF%BC%8E%EF%BC%BC%EF%BC%8E%EF%BC%8E%EF%BC%BCescaped.bin
opening=$base/files/m-2001/开场.mp4
utf16le() { printf '\xFF\xFE'; printf '%s\r\n' "$@" | iconv -f UTF-8 -t UTF-16LE; }
for lang in en_US.UTF-8 zh_TW.UTF-8 zh_CN.UTF-8; do
  export LANG=$lang LC_ALL=$lang
  row 0 "d\\$name.bin complete" "d/$name.bin" wine "$qv" "$c/300000/$encoded.bin" 'd\'
  # Typed raw, the URL goes out UTF-8 encoded: under its code page's bytes
  # the demo has no such file.
  row 0 "d\\$name.mp4 complete" "d/$name.mp4" wine "$qv" "$opening" "d\\$name.mp4"
  utf16le "$c/2000/$name.bin" "$c/2000/b.bin" >"$work/$name.txt"
  row 0 "2 files, 4000 bytes, 0 failed" "x x/$name x/$name/b.bin x/$name/$name.bin" \
    wine "$qv" -i "$(winpath "$work/$name.txt")" -d "x\\$name\\"
  echo "$c/10/$escape" >"$work/list.txt"
  row 0 "1 files, 10 bytes, 0 failed" "x x/y x/y/．．＼．．＼escaped.bin" wine "$qv" -i "$(winpath "$work/list.txt")" -d 'x\y'
done

# On a console, names outside the code page show as they are (Wine's
# console shows no character beyond the BMP, so no emoji here).
rm -rf "$work/out" && mkdir -p "$work/out"
(cd "$work/out" && LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 script -qec "wine '$qv' '$c/2000/%ED%95%9C%EA%B8%80%E4%B8%AD.bin'" \
  /dev/null >"$work/tty.txt" 2>&1)
# The console moves the cursor over spaces rather than writing them.
if sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/tty.txt" | tr -d ' ' | grep -qF ".\\한글中.bincomplete"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAILED: a Chinese and Korean name on a console under code page 1252:"
  sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/tty.txt" | tr '\r' '\n' | grep -a . | head -5 | sed 's/^/    /'
fi

# The rows below run under 936, the loop's last code page.
{ printf '\xEF\xBB\xBF'; printf '%s\r\n' "$c/2000/a.bin" "$c/2000/b.bin"; } >"$work/list.txt"
row 0 "2 files, 4000 bytes, 0 failed" "a.bin b.bin" wine "$qv" -i "$(winpath "$work/list.txt")"
{ printf '\xFE\xFF'; printf '%s\r\n' "$opening" "$c/2000/b.bin" | iconv -f UTF-8 -t UTF-16BE; } >"$work/list.txt"
row 0 "2 files, 3502000 bytes, 0 failed" "b.bin 开场.mp4" wine "$qv" -i "$(winpath "$work/list.txt")"
printf '%s\n' "$opening" >"$work/list.txt"
row 0 "1 files, 3500000 bytes, 0 failed" "开场.mp4" env LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 wine "$qv" -i "$(winpath "$work/list.txt")"
# Saved by Notepad as "ANSI": not UTF-8, so read in the code page.
printf '%s\r\n' "$opening" | iconv -f UTF-8 -t GBK >"$work/list.txt"
row 0 "1 files, 3500000 bytes, 0 failed" "开场.mp4" wine "$qv" -i "$(winpath "$work/list.txt")"

echo "$c/2000/a.bin" >"$work/list1.txt"
# A backslash separates levels; a folder given with a trailing one is a
# folder; printed paths keep the backslashes.
row 16 "cannot write $out\\newdir\\a.bin: " - wine "$qv" "$c/2000/a.bin" "$out\\newdir\\"
row 16 "cannot write nodir\\a.bin: " - wine "$qv" "$c/2000/a.bin" 'nodir\a.bin'
# A drive alone is its current directory, not its root; a folder given in
# the long form is made.
row 0 "complete" "a.bin" wine "$qv" "$c/2000/a.bin" 'Z:'
row 0 "1 files, 2000 bytes, 0 failed" "long long/a.bin" wine "$qv" -i "$(winpath "$work/list1.txt")" -d "\\\\?\\$out\\long\\"
# NTFS ignores case: a second name that differs only in case is renamed.
printf '%s\n' "$c/2000/Same.bin" "$c/2000/same.bin" >"$work/list.txt"
row 0 "renamed: $c/2000/same.bin -> " "Same.bin same.1.bin" wine "$qv" -i "$(winpath "$work/list.txt")"
printf '%s\n' "$c/2000/same.bin?sig=1" "$c/2000/same.bin?sig=2" >"$work/list.txt"
row 0 "renamed: $c/2000/same.bin?sig=2 -> $out\\new\\dir\\same.1.bin" "new new/dir new/dir/same.1.bin new/dir/same.bin" \
  wine "$qv" -i "$(winpath "$work/list.txt")" -d "$out\\new\\dir\\"
# Room is asked of the destination's own drive (root mounts a small one).
small=$work/small
if mkdir -p "$small" && mount -t tmpfs -o size=2m tmpfs "$small" 2>/dev/null; then
  trap 'umount "$small"; cleanup' EXIT
  row 9 "not enough space: need" - wine "$qv" "$c/3000000/a.bin" "$(winpath "$small")\\a.bin"
else
  echo "skipped: the destination on a small file system (mounting needs root)"
fi
row 6 "failed: connection refused" - wine "$qv" "http://127.0.0.1:1/a.bin" a.bin

summary "qv-download.exe"
