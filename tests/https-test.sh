#!/usr/bin/env bash
# Content hosts on https: the real Caddy serves files with a certificate
# made for this test. qv-download (the client's engine) fetches them
# byte-exact when QUORVEL_CA_FILE names the test's CA, and never falls back
# to an unverified connection without it (the failure names TLS and tells
# of QUORVEL_CA_FILE).
#
#   tests/https-test.sh BUILD_DIR
set -uo pipefail
build=$1
work=$(mktemp -d)
caddy_pid=
trap '[ -n "$caddy_pid" ] && kill "$caddy_pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/www" "$work/out" "$work/xdg"
head -c 3000000 /dev/urandom > "$work/www/big.bin"
head -c 70000 /dev/urandom > "$work/www/small.bin"
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
}
CADDY
XDG_DATA_HOME=$work/xdg XDG_CONFIG_HOME=$work/xdg \
  caddy run --adapter caddyfile --config "$work/Caddyfile" >"$work/caddy.log" 2>&1 &
caddy_pid=$!
base=https://127.0.0.1:$port
for _ in $(seq 100); do curl -s --cacert "$work/cert.pem" -o /dev/null "$base/small.bin" && break; sleep 0.1; done

passed=0 failed=0
# check NAME EXPECTED_STATUS FILE [ENV...]: runs qv-download for FILE
check() {
  local name=$1 expected=$2 file=$3
  shift 3
  rm -f "$work/out/"*
  env "$@" "$build/bin/qv-download" "$base/$file" "$work/out/$file" >"$work/out.txt" 2>&1
  local status=$?
  if [ "$expected" = 0 ] && [ "$status" = 0 ] && cmp -s "$work/www/$file" "$work/out/$file"; then
    passed=$((passed + 1))
  elif [ "$expected" != 0 ] && [ "$status" != 0 ] && [ ! -e "$work/out/$file" ] &&
       grep -q "TLS" "$work/out.txt" && grep -q "QUORVEL_CA_FILE" "$work/out.txt"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name: exit $status"
    tail -3 "$work/out.txt"
  fi
}

check "four ranges over https" 0 big.bin QUORVEL_CA_FILE="$work/cert.pem"
check "one range over https" 0 small.bin QUORVEL_CA_FILE="$work/cert.pem"
check "an unknown CA is refused" 1 big.bin
check "a CA file that is not there adds nothing" 1 small.bin QUORVEL_CA_FILE="$work/none.pem"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
