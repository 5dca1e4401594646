#!/usr/bin/env bash
# qv-download.exe under Wine on a company's network: https from hosts whose
# certificates name no CRL or OCSP server, signed by the CA of
# QUORVEL_CA_FILE or by a CA of the system's ROOT store (both trusted at
# once), over HTTP/2 where the host offers it (ALPN through Schannel) and
# HTTP/1.1 where it does not; and the proxy of the user's Windows settings,
# with its bypass list, the environment's proxy before it and the user's
# NO_PROXY beside it. The proxy is a Caddy on 127.0.0.1 that serves any
# host's URL it is asked for; meetings.invalid resolves nowhere, so only the
# proxy reaches it. The settings go to a private copy of the Wine prefix.
#
#   tests/windows-network-test.sh BUILD_WIN_DIR LINUX_BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
demo=$(cd "$2" && pwd)/bin/quorvel-demo-services
source "$build/wine.env"
source "$(dirname "$0")/cli-rows.sh"
source "$(dirname "$0")/../scripts/lib/test-cert.sh"
qv=$build/bin/qv-download.exe
winpath() { echo "Z:${1//\//\\}"; }

# The private prefix: the shared one's files linked, its registry copied.
shared=$WINEPREFIX
export WINEPREFIX=$work/prefix
cp -al "$shared" "$WINEPREFIX"
for hive in system.reg user.reg userdef.reg; do
  rm "$WINEPREFIX/$hive" && cp "$shared/$hive" "$WINEPREFIX/$hive"
done
caddy_pid=
stop_all() {
  [ -n "$caddy_pid" ] && kill "$caddy_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  cleanup
}
trap stop_all EXIT

mkdir -p "$work/file-ca" "$work/store-ca" "$work/www" "$work/xdg"
# Named localhost: libcurl's own check of a CA bundle's certificates (the
# file's) matches host names, not IP addresses.
make_test_cert "$work/file-ca" DNS:localhost
make_test_cert "$work/store-ca" DNS:localhost
head -c 300000 /dev/urandom >"$work/www/f.bin"
ports=($(shuf -i 20000-31999 -n 3))
cat >"$work/Caddyfile" <<CADDY
{
	admin off
	auto_https off
	servers 127.0.0.1:${ports[1]} {
		protocols h1
	}
}
https://localhost:${ports[0]} {
	bind 127.0.0.1
	tls $work/file-ca/cert.pem $work/file-ca/key.pem
	root * $work/www
	file_server
	log {
		output file $work/file-ca.log
	}
}
https://localhost:${ports[1]} {
	bind 127.0.0.1
	tls $work/store-ca/cert.pem $work/store-ca/key.pem
	root * $work/www
	file_server
	log {
		output file $work/store-ca.log
	}
}
http://:${ports[2]} {
	bind 127.0.0.1
	redir /r/f.bin http://meetings.invalid/f.bin 302
	root * $work/www
	file_server
}
CADDY
XDG_DATA_HOME=$work/xdg XDG_CONFIG_HOME=$work/xdg \
  caddy run --adapter caddyfile --config "$work/Caddyfile" >"$work/caddy.log" 2>&1 &
caddy_pid=$!
proxy=127.0.0.1:${ports[2]}
for _ in $(seq 100); do curl -s -o /dev/null -x "http://$proxy" http://meetings.invalid/f.bin && break; sleep 0.1; done

# The store CA in the current user's ROOT store, as Windows keeps it: the
# serialized certificate under its SHA-1 thumbprint.
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
der=$(openssl x509 -in "$work/store-ca/cert.pem" -outform DER | xxd -p | tr -d '\n')
thumb=$(openssl x509 -in "$work/store-ca/cert.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
wine reg add "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" /v Blob /t REG_BINARY \
  /d "$(le32 32)$(le32 1)$(le32 $((${#der} / 2)))$der" /f >/dev/null 2>&1

# proxy_settings FLAGS SERVERS BYPASS: the Internet Settings connection
# Windows writes (flags: 1 direct, 2 proxy, 4 script, 8 detection).
proxy_settings() {
  local hex
  hex=$(le32 0x46)$(le32 1)$(le32 "$1")
  for text in "$2" "$3" ""; do hex+=$(le32 ${#text})$(printf '%s' "$text" | xxd -p | tr -d '\n'); done
  wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /t REG_BINARY /d "$hex$(printf '0%.0s' {1..64})" /f >/dev/null 2>&1
}

# exact: the row's f.bin is the one served, byte for byte.
exact() {
  if cmp -s "$work/www/f.bin" "$work/out/f.bin"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: the f.bin of the row above differs from the one served"
  fi
}
file_ca=$(winpath "$work/file-ca/cert.pem")
row 0 "f.bin complete" "f.bin" env QUORVEL_CA_FILE="$file_ca" wine "$qv" "https://localhost:${ports[0]}/f.bin"
exact
row 0 "f.bin complete" "f.bin" env QUORVEL_CA_FILE="$file_ca" wine "$qv" "https://localhost:${ports[1]}/f.bin"
exact
# A CA file in a folder whose name is outside the code page (1252).
mkdir -p "$work/证书" && cp "$work/file-ca/cert.pem" "$work/证书/ca.pem"
row 0 "f.bin complete" "f.bin" env LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 QUORVEL_CA_FILE="$(winpath "$work/证书/ca.pem")" \
  wine "$qv" "https://localhost:${ports[0]}/f.bin"
exact
row 0 "f.bin complete" "f.bin" wine "$qv" "https://localhost:${ports[1]}/f.bin"
exact
# Every request came as HTTP/2 to the host that offers it, as HTTP/1.1 to
# the one that offers only that (Caddy logs a request once it is answered).
for host in file-ca:HTTP/2.0 store-ca:HTTP/1.1; do
  log=$work/${host%%:*}.log
  for _ in $(seq 100); do [ -s "$log" ] && break; sleep 0.1; done
  protocols=$(grep -o '"proto":"HTTP/[^"]*"' "$log" | cut -d'"' -f4 | sort -u | paste -sd' ')
  if [ "$protocols" = "${host#*:}" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: the requests to the ${host%%:*} host came as '$protocols' (want ${host#*:})"
  fi
done

proxy_settings 3 "$proxy" ""
row 0 "f.bin complete" "f.bin" wine "$qv" http://meetings.invalid/f.bin
# Detection (WPAD) on beside the server: not followed, which the log says.
proxy_settings 11 "$proxy" ""
row 0 "automatic configuration is not followed (detection on" "f.bin" env QUORVEL_DEBUG=1 wine "$qv" http://meetings.invalid/f.bin
proxy_settings 3 "https=127.0.0.1:1;http=$proxy" "*.example;<local>"
row 0 "f.bin complete" "f.bin" wine "$qv" http://meetings.invalid/f.bin
# A local name (localhost, reached directly) redirecting to a host only the
# proxy reaches: the redirect takes the proxy.
proxy_settings 3 "$proxy" "<local>"
row 0 "f.bin complete" "f.bin" wine "$qv" "http://localhost:${ports[2]}/r/f.bin"
proxy_settings 3 "$proxy" "files.example;*.invalid"
row 19 "host not found: meetings.invalid" - wine "$qv" http://meetings.invalid/f.bin
proxy_settings 3 "127.0.0.1:1" ""
row 0 "f.bin complete" "f.bin" env http_proxy="http://$proxy" wine "$qv" http://meetings.invalid/f.bin
proxy_settings 3 "$proxy" ""
row 19 "host not found: meetings.invalid" - env NO_PROXY=meetings.invalid wine "$qv" http://meetings.invalid/f.bin
summary "network under Wine"
