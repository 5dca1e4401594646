#!/usr/bin/env bash
# The command-line tools as a user meets them: each row runs qv-download or
# quorvel-demo-services and checks the exit code, a fragment of what it
# said, and what it left on disk. The progress line is checked once through
# a pseudo-terminal.
#
#   tests/cli-test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
qv=$build/bin/qv-download demo=$build/bin/quorvel-demo-services
source "$(dirname "$0")/cli-rows.sh"

row 0 "Exit status" - "$qv" --help
row 0 "-i LIST" - "$qv" -h
row 0 "qv-download 1." - "$qv" --version
row 2 "unknown option" - "$qv" -x "$c/10/a.bin"
row 2 "usage:" - "$qv"
row 2 "needs an argument" - "$qv" -i
row 2 "usage:" - "$qv" "$c/10/a.bin" a b
row 2 "not an http or https URL" - "$qv" "" a.bin
row 2 "not an http or https URL" - "$qv" "127.0.0.1:$port/content/10/a.bin" a.bin
row 2 "not an http or https URL" - "$qv" "ftp://127.0.0.1/a.bin" a.bin
row 3 "HTTP 404" - "$qv" "$c/1000/a.bin?status=404" a.bin
row 22 "HTTP 403" - "$qv" "$c/1000/a.bin?status=403" a.bin
row 22 "no Content-Length" - "$qv" "$c/1000/a.bin?nolength=1" a.bin
row 9 "not enough space: need" - "$qv" "$c/1125899906842624/huge.bin" huge.bin
row 16 "cannot write no/such/a.bin" - "$qv" "$c/1000/a.bin" no/such/a.bin
row 6 "connection refused" - "$qv" "http://127.0.0.1:1/a.bin" a.bin
row 0 "complete" "a.bin" "$qv" "$c/300000/a.bin" a.bin
row 0 "complete" "d/a b.bin" "$qv" "$c/300000/a%20b.bin" d
row 0 "complete" "d/a.bin" "$qv" "$c/300000/a.bin" d/
row 0 "complete" "a.bin" "$qv" "$c/300000/a.bin" .
row 0 "complete" "a.bin" "$qv" "$c/300000/a.bin"
row 2 "no file name" - "$qv" "$c/300000/a%2Fb.bin" d
row 2 "no file name" - "$qv" "$c/300000/" d
row 0 "complete" "d/中文名.bin" "$qv" "$c/300000/%E4%B8%AD%E6%96%87%E5%90%8D.bin" d
# Typed raw where the locale cannot read it: sent as typed, never as "?".
row 0 "complete" "a.bin" env LANG=C LC_ALL=C "$qv" "$c/300000/中文名.bin" a.bin
row 0 "complete" "d/q.bin" "$qv" "$c/300000/q.bin?sig=1#part" d
md5=$(curl -s "$c/300000/a.bin" | md5sum | cut -c1-32)
row 0 "complete" "a.bin" "$qv" --checksum=md5="$md5" "$c/300000/a.bin" a.bin
row 32 "not the one given, though two copies agree; kept" "a.bin" "$qv" --checksum=md5=$(printf '%032d' 0) "$c/300000/a.bin" a.bin
row 2 "give --checksum=md5=" - "$qv" --checksum=sha1=0 "$c/300000/a.bin" a.bin
printf '%s\n' "$c/2000/same.bin?sig=1" "$c/2000/same.bin?sig=2" >"$work/list.txt"
row 0 "renamed: $c/2000/same.bin?sig=2 -> new/dir/same.1.bin " "new new/dir new/dir/same.1.bin new/dir/same.bin" \
  "$qv" -i "$work/list.txt" -d new/dir/
# A list from a pipe; an empty DIR is the current directory, not the root.
row 0 "1 files, 2000 bytes, 0 failed" "same.bin" "$qv" -i <(echo "$c/2000/same.bin") -j 1 -d ""
# Several at once: each file byte-exact, failures counted per entry.
printf '%s\n' "$c/3000000/j1.bin" "$c/10/j2.bin?status=404" "$c/200000/j3.bin?drop=50000" \
  "$c/1500000/j4.bin?rate=2000000" "$c/40000/j5.bin" >"$work/list.txt"
row 3 "5 files, 4740000 bytes, 1 failed" "j1.bin j3.bin j4.bin j5.bin" "$qv" -i "$work/list.txt" -j 3 -d .
row 2 "-j 33: give 1 to 32" - "$qv" -i "$work/list.txt" -j 33
row 2 "-j 3x: give 1 to 32" - "$qv" -i "$work/list.txt" -j 3x
row 2 "usage:" - "$qv" -j 2 "$c/10/a.bin"
row 2 "usage:" - "$qv" -j 32 "$c/10/a.bin"
# Characters typed raw into a URL go out UTF-8 encoded (the demo's 开场.mp4
# is not found under its GBK bytes), whatever the locale's charset; the
# file is named in that charset. A list is read in that charset too, or as
# its BOM says: UTF-8 (Notepad), UTF-16 either way round (PowerShell 5's ">").
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }
under_gbk=(env LANG=zh_CN.GBK LC_ALL=zh_CN.GBK)
opening=$base/files/m-2001/开场.mp4 keynote=$base/files/m-2001/主题演讲.pdf
row 0 complete "d/$(gbk 开场.mp4)" "${under_gbk[@]}" "$qv" "$(gbk "$opening")" d
printf '%s\n' "$opening" "$c/2000/b.bin" | iconv -f UTF-8 -t GBK >"$work/list.txt"
row 0 "2 files, 3502000 bytes, 0 failed" "b.bin $(gbk 开场.mp4)" "${under_gbk[@]}" "$qv" -i "$work/list.txt"
{ printf '\xEF\xBB\xBF'; printf '%s\r\n' "$keynote" "$c/2000/b.bin"; } >"$work/list.txt"
row 0 "2 files, 1050576 bytes, 0 failed" "b.bin $(gbk 主题演讲.pdf)" "${under_gbk[@]}" "$qv" -i "$work/list.txt"
{ printf '\xFF\xFE'; printf '%s\r\n' "$opening" "$c/2000/b.bin" | iconv -f UTF-8 -t UTF-16LE; } >"$work/list.txt"
row 0 "2 files, 3502000 bytes, 0 failed" "b.bin 开场.mp4" "$qv" -i "$work/list.txt"
{ printf '\xFE\xFF'; printf '%s\n' "$c/2000/😀.bin" "$c/2000/b.bin" | iconv -f UTF-8 -t UTF-16BE; } >"$work/list.txt"
row 0 "2 files, 4000 bytes, 0 failed" "b.bin 😀.bin" "$qv" -i "$work/list.txt"
# Room is asked of the destination's own file system (root mounts a small one).
small=$work/small
if mkdir -p "$small" && mount -t tmpfs -o size=2m tmpfs "$small" 2>/dev/null; then
  trap 'umount "$small"; cleanup' EXIT
  row 9 "not enough space: need" - "$qv" "$c/3000000/a.bin" "$small/a.bin"
else
  echo "skipped: the destination on a small file system (mounting needs root)"
fi
client=$build/bin/quorvel-client
row 0 "usage: quorvel-client" - env -u DISPLAY "$client" --help
row 0 "quorvel-client 1." - env -u DISPLAY "$client" --version
row 0 "usage: quorvel-demo-services" - "$demo" --help
row 0 "quorvel-demo-services 1." - "$demo" --version
row 2 "usage:" - "$demo" abc
row 2 "usage:" - "$demo" 80x
row 1 "cannot listen on 127.0.0.1:$port" - "$demo" "$port"

# The progress line on a terminal: KiB under 1 MiB, a rate, a time left.
rm -rf "$work/out" && mkdir -p "$work/out"
script -qec "$qv '$c/400000/p.bin?rate=150000' '$work/out/p.bin'" /dev/null >"$work/tty.txt" 2>&1
if grep -qE $'\r[0-9.]+ KiB / 390.6 KiB +[0-9]+%  [0-9.]+ KiB/s  ETA 0:0[0-9]' "$work/tty.txt" &&
   cmp -s <(curl -s "$c/400000/p.bin") "$work/out/p.bin"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAILED: the progress line on a terminal:"
  tr '\r' '\n' < "$work/tty.txt" | head -5 | sed 's/^/    /'
fi

# Without a terminal (a log file) a progress line goes at most every 10 s.
"$qv" "$c/400000/l.bin?rate=150000" "$work/out/l.bin" >"$work/log.txt" 2>&1
lines=$(grep -c "KiB / 390.6 KiB" "$work/log.txt")
if [ "$lines" = 1 ]; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAILED: $lines progress lines in a log of a 3 s download (want 1)"
fi

# The demo services end within a second of SIGTERM, a slow answer under way.
"$demo" 0 >"$work/second.txt" &
second_pid=$!
for _ in $(seq 100); do [ -s "$work/second.txt" ] && break; sleep 0.05; done
second=$(sed -n 's/^demo services on //p' "$work/second.txt")
curl -s -o /dev/null "$second/content/100000000/slow.bin?rate=100000" &
curl_pid=$!
sleep 0.5
kill -TERM "$second_pid"
ended=no
for _ in $(seq 20); do kill -0 "$second_pid" 2>/dev/null || { ended=yes; break; }; sleep 0.1; done
if [ $ended = yes ]; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAILED: the demo services still ran 2 s after SIGTERM"
  kill -KILL "$second_pid"
fi
wait "$second_pid" 2>/dev/null
kill "$curl_pid" 2>/dev/null
wait "$curl_pid" 2>/dev/null

summary
