#!/usr/bin/env bash
# Content hosts on https: the real Caddy serves files with a certificate
# made for this test. qv-download (the client's engine) fetches them
# byte-exact when QUORVEL_CA_FILE names the test's CA, and never falls back
# to an unverified connection without it (the failure names TLS and tells
# of QUORVEL_CA_FILE). Caddy speaks HTTP/2: a list's files come as streams
# of one connection. A host that offers HTTP/2 and then breaks it (a
# stand-in that answers in HTTP/1.1 whatever it agreed) is asked in
# HTTP/1.1; one that answered in HTTP/2 keeps it through a GOAWAY.
#
#   tests/https-test.sh BUILD_DIR
set -uo pipefail
build=$1
work=$(mktemp -d)
caddy_pid= broken_pid=
trap 'for p in $caddy_pid $broken_pid; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
mkdir -p "$work/www" "$work/out" "$work/xdg"
head -c 3000000 /dev/urandom > "$work/www/big.bin"
head -c 70000 /dev/urandom > "$work/www/small.bin"
for i in $(seq 12); do head -c $((i * 30000)) /dev/urandom > "$work/www/many$i.bin"; done
. "$(dirname "$0")/../scripts/lib/test-cert.sh"
make_test_cert "$work"

# Below the ephemeral ports (32768 on), which the tests beside it bind.
port=$((20000 + RANDOM % 12000))
cat > "$work/Caddyfile" <<CADDY
{
	admin off
	auto_https disable_redirects
}
https://127.0.0.1:$port {
	tls $work/cert.pem $work/key.pem
	root * $work/www
	file_server
	log {
		output file $work/access.log
		format json
	}
}
CADDY
XDG_DATA_HOME=$work/xdg XDG_CONFIG_HOME=$work/xdg \
  caddy run --adapter caddyfile --config "$work/Caddyfile" >"$work/caddy.log" 2>&1 &
caddy_pid=$!
base=https://127.0.0.1:$port
for _ in $(seq 100); do curl -s --cacert "$work/cert.pem" -o /dev/null "$base/small.bin" && break; sleep 0.1; done

passed=0 failed=0
# pass_if NAME STATUS DETAIL: counts a row, which STATUS 0 passes.
pass_if() {
  if [ "$2" = 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $1: $3"
    tail -3 "$work/out.txt"
  fi
}

# check NAME EXPECTED_STATUS FILE [ENV...]: runs qv-download for FILE
check() {
  local name=$1 expected=$2 file=$3
  shift 3
  rm -f "$work/out/"*
  env "$@" "$build/bin/qv-download" "$base/$file" "$work/out/$file" >"$work/out.txt" 2>&1
  local status=$?
  if [ "$expected" = 0 ]; then
    [ "$status" = 0 ] && cmp -s "$work/www/$file" "$work/out/$file"
  else
    [ "$status" != 0 ] && [ ! -e "$work/out/$file" ] &&
      grep -q "TLS" "$work/out.txt" && grep -q "QUORVEL_CA_FILE" "$work/out.txt"
  fi
  pass_if "$name" $? "exit $status"
}

check "four ranges over https" 0 big.bin QUORVEL_CA_FILE="$work/cert.pem"
check "one range over https" 0 small.bin QUORVEL_CA_FILE="$work/cert.pem"
check "an unknown CA is refused" 1 big.bin
check "a CA file that is not there adds nothing" 1 small.bin QUORVEL_CA_FILE="$work/none.pem"
# fetch_list COUNT PATTERN SOURCE [ARGS...]: qv-download fetches $base/PATTERN
# for each i of 1..COUNT (printf patterns); sets fetched to its exit status
# and same to how many came byte-exact as www/SOURCE.
fetch_list() {
  local count=$1 pattern=$2 source=$3 i
  shift 3
  rm -f "$work/out/"*
  for i in $(seq "$count"); do printf "$base/$pattern\n" "$i"; done > "$work/list.txt"
  QUORVEL_CA_FILE="$work/cert.pem" "$build/bin/qv-download" -i "$work/list.txt" -d "$work/out" "$@" >"$work/out.txt" 2>&1
  fetched=$? same=0
  for i in $(seq "$count"); do
    # shellcheck disable=SC2059
    cmp -s "$work/www/$(printf "$source" "$i")" "$work/out/$(printf "$pattern" "$i")" && same=$((same + 1))
  done
}

# check_list NAME COUNT [ARGS...]: the stand-in at $base serves COUNT files.
check_list() {
  local name=$1 count=$2
  shift 2
  fetch_list "$count" b%d.bin small.bin "$@"
  [ "$fetched" = 0 ] && [ "$same" = "$count" ]
  pass_if "$name" $? "exit $fetched, $same of $count byte-exact"
}

# The list's files, then what Caddy saw: HTTP/2 only, on one connection.
fetch_list 12 many%d.bin many%d.bin
seen=$(python3 -c '
import json, sys
lines = [json.loads(l)["request"] for l in open(sys.argv[1]) if "many" in l]
print(len(lines), " ".join(sorted({r["proto"] for r in lines})), len({r["remote_port"] for r in lines}))
' "$work/access.log")
[ "$seen" = "12 HTTP/2.0 1" ] && [ "$fetched" = 0 ] && [ "$same" = 12 ]
pass_if "a list over HTTP/2" $? "requests, protocols, connections: $seen; exit $fetched, $same of 12 byte-exact"

# start_broken MODE: the stand-in host of broken_h2.py on its own port.
start_broken() {
  [ -n "$broken_pid" ] && kill "$broken_pid" && wait "$broken_pid" 2>/dev/null
  broken_port=$((port + 1 + RANDOM % 100))
  python3 "$(dirname "$0")/support/broken_h2.py" "$broken_port" "$work/cert.pem" "$work/key.pem" "$work/www/small.bin" "$1" &
  broken_pid=$!
  base=https://127.0.0.1:$broken_port
  local version=--http1.1
  [ "$1" = goaway ] && version=--http2
  for _ in $(seq 100); do curl -s "$version" --cacert "$work/cert.pem" -o /dev/null "$base/" && break; sleep 0.1; done
}

start_broken h1
check "a host that breaks HTTP/2 is asked in HTTP/1.1" 0 small.bin QUORVEL_CA_FILE="$work/cert.pem"
# Files that break together each count once: the host ends on HTTP/1.1.
check_list "six files of a host that breaks HTTP/2" 6
# A GOAWAY that refuses a request of a host that answered in HTTP/2 is
# passing: the request is asked again in HTTP/2, the host's only version.
start_broken goaway
check_list "a GOAWAY on a host that speaks HTTP/2" 3 -j 1
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
