#!/usr/bin/env bash
# Content hosts as the field has them: Debian's nginx and Caddy, each
# started here with a config of its own on a loopback port, serve files with
# what the client must cope with (a redirect with an HTML page, weak ETags,
# ranges refused, a file replaced between runs, lists of files in flight
# together). Each row runs qv-download
# and checks its exit code, the bytes at the destination, and the bytes the
# server sent to range requests (from its access log): at most 1.15 times
# the file, so no range was answered with the whole file.
#
#   tests/real-servers-test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
qv=$build/bin/qv-download
work=$(mktemp -d)
pids=()
stop_servers() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap stop_servers EXIT
mkdir -p "$work/www" "$work/nginx" "$work/xdg"
head -c 3000000 /dev/urandom >"$work/www/f.bin"
head -c 100000 /dev/urandom >"$work/www/small.bin"
head -c 8000000 /dev/urandom >"$work/www/big.bin"

# Below the ephemeral ports (32768 on), which the tests beside it bind.
nport=$((20000 + RANDOM % 12000)) cport=$((nport + 1))
# A master started as root hands the work to "nobody", who could not read
# the test's private directory.
user_line=
[ "$(id -u)" = 0 ] && user_line="user root;"
cat >"$work/nginx/nginx.conf" <<NGINX
$user_line
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 128; }
http {
  log_format ranges '\$status \$body_bytes_sent "\$http_range"';
  access_log $work/nginx/access.log ranges;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$nport;
    root $work/www;
    location = /moved { return 301 /f.bin; }
    location = /found { return 302 http://127.0.0.1:$nport/big.bin; }
    location /weak/ { alias $work/www/; etag off; add_header ETag 'W/"weak-1"'; }
    # Slow, so that more connections pay and ranges are asked for.
    location /no-ranges/ { alias $work/www/; limit_rate 1m; if (\$http_range) { return 403; } }
    location /slow/ { alias $work/www/; limit_rate 1m; }
  }
}
NGINX
nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)

cat >"$work/Caddyfile" <<CADDY
{
	admin off
	auto_https off
}
http://127.0.0.1:$cport {
	log {
		output file $work/caddy-access.log
		format json
	}
	root * $work/www
	redir /moved /f.bin 301
	file_server
}
CADDY
XDG_DATA_HOME=$work/xdg XDG_CONFIG_HOME=$work/xdg \
  caddy run --adapter caddyfile --config "$work/Caddyfile" >"$work/caddy.log" 2>&1 &
pids+=($!)
n=http://127.0.0.1:$nport c=http://127.0.0.1:$cport
up=
for _ in $(seq 100); do
  curl -sf -o /dev/null "$n/small.bin" && curl -sf -o /dev/null "$c/small.bin" && { up=yes; break; }
  sleep 0.1
done
[ -n "$up" ] || { echo "FAILED: nginx or Caddy did not start"; cat "$work/nginx/error.log" "$work/caddy.log"; exit 1; }

# The body bytes a server sent to range requests, by its access log.
ranged_bytes() {
  case $1 in
    nginx) awk '$3 != "\"-\"" { sum += $2 } END { print sum + 0 }' "$work/nginx/access.log" ;;
    caddy) grep '"Range"' "$work/caddy-access.log" 2>/dev/null |
             grep -o '"size":[0-9]*' | awk -F: '{ sum += $2 } END { print sum + 0 }' ;;
  esac
}

passed=0 failed=0
# row SERVER EXIT FRAGMENT SOURCE URL [OPTION]: qv-download URL into a fresh
# file (with RESUME=1: into what an earlier run left); SOURCE is the file it
# must equal ("-" for none).
row() {
  local server=$1 code=$2 fragment=$3 source=$4 url=$5 option=${6:-}
  local dest=$work/out.bin before after got ok=yes
  [ -n "${RESUME:-}" ] || rm -f "$dest" "$dest.tmp!" "$dest.info"
  before=$(ranged_bytes "$server")
  timeout 120 "$qv" $option "$url" "$dest" >"$work/said.txt" 2>&1
  got=$?
  sleep 0.2  # the access log line of the last answer
  after=$(ranged_bytes "$server")
  [ "$got" = "$code" ] || ok=no
  grep -qF -- "$fragment" "$work/said.txt" || ok=no
  if [ "$source" != - ]; then
    cmp -s "$dest" "$work/www/$source" || ok=no
    [ $((after - before)) -le $(( $(stat -c %s "$work/www/$source") * 115 / 100 )) ] || ok=no
  fi
  if [ $ok = yes ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $server $url $option -> exit $got (want $code), ranges sent $((after - before)) bytes:"
    sed 's/^/    /' "$work/said.txt" | tail -5
  fi
}

md5=$(md5sum "$work/www/big.bin" | cut -c1-32)
for server in nginx caddy; do
  base=$n
  [ $server = caddy ] && base=$c
  row $server 0 complete f.bin "$base/f.bin"
  row $server 0 complete small.bin "$base/small.bin"
  row $server 0 complete big.bin "$base/big.bin"
  row $server 0 complete f.bin "$base/moved"
  row $server 0 complete big.bin "$base/big.bin?sig=abc" --checksum=md5="$md5"
done
row nginx 0 complete big.bin "$n/found"

# list_row SERVER BASE PATH=SOURCE...: the paths as one list, four files in
# flight through one pool of connections (each first answer carrying its
# file through every segment while files wait): exit 0, every copy equal
# to its SOURCE.
list_row() {
  local server=$1 base=$2 entry ok=yes
  shift 2
  rm -rf "$work/list-out"
  for entry in "$@"; do echo "$base/${entry%%=*}"; done >"$work/list.txt"
  timeout 120 "$qv" -i "$work/list.txt" -d "$work/list-out" >"$work/said.txt" 2>&1 || ok=no
  for entry in "$@"; do
    local path=${entry%%=*}
    cmp -s "$work/list-out/${path##*/}" "$work/www/${entry#*=}" || ok=no
  done
  if [ $ok = yes ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $server list $*:"
    sed 's/^/    /' "$work/said.txt" | tail -5
  fi
}
list_row nginx "$n" f.bin=f.bin small.bin=small.bin big.bin=big.bin moved=f.bin found=big.bin
list_row caddy "$c" f.bin=f.bin small.bin=small.bin big.bin=big.bin moved=f.bin
row nginx 0 complete big.bin "$n/weak/big.bin"
row nginx 22 "HTTP 403 to a range request" - "$n/no-ranges/big.bin"

# Stopped midway, the file replaced on the server (same size, a new ETag),
# then resumed: the result is the new file whole, never the two spliced.
rm -f "$work/out.bin"*
"$qv" "$n/slow/big.bin" "$work/out.bin" >/dev/null 2>&1 &
qv_pid=$!
for _ in $(seq 100); do [ -s "$work/out.bin.info" ] && break; sleep 0.1; done
# Stopped once the side file was brought up to date (replaced, so another
# inode): the pair left then claims bytes of the old file.
planned=$(stat -c %i "$work/out.bin.info" 2>/dev/null) claimed=
for _ in $(seq 100); do
  now=$(stat -c %i "$work/out.bin.info" 2>/dev/null) || now=
  [ -n "$now" ] && [ -n "$planned" ] && [ "$now" != "$planned" ] && { claimed=yes; break; }
  sleep 0.1
done
kill -INT $qv_pid
wait $qv_pid
stopped=$?
head -c 8000000 /dev/urandom >"$work/www/new.bin"
touch -d '+1 hour' "$work/www/new.bin"
mv "$work/www/new.bin" "$work/www/big.bin"
if [ -z "$claimed" ] || [ ! -s "$work/out.bin.tmp!" ] || [ ! -s "$work/out.bin.info" ]; then
  failed=$((failed + 1))
  echo "FAILED: the stopped run left no resumable pair claiming bytes"
fi
RESUME=1 row nginx 0 complete big.bin "$n/slow/big.bin"
if [ "$stopped" != 130 ]; then
  failed=$((failed + 1))
  echo "FAILED: the stopped run ended with $stopped, not 130"
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
