# Caddy across a stand-in for a wide-area link, for the benchmarks' --caddy
# and --h2 modes. Needs scripts/lib/test-cert.sh and build/bench/wan_relay.
#
# start_wan_caddy WORK SCHEME RTT_MS RATE WINDOW: serves WORK/www with the
# system's Caddy 2 on 127.0.0.1 and starts build/bench/wan_relay in front of
# it (RTT_MS, RATE and WINDOW are the relay's --rtt-ms, --conn-rate and
# --window). SCHEME http: HTTP/1.1 only; https: TLS with a certificate made
# for the run, offering HTTP/2 and HTTP/1.1 (no HTTP/3: it would go around
# the relay on UDP), and QUORVEL_CA_FILE exported naming the certificate.
# Sets wan_base (through the relay) and direct_base (Caddy itself, for the
# loopback rate) and adds both processes to the array `pids`.
start_wan_caddy() {
  local work=$1 scheme=$2 rtt=$3 rate=$4 window=$5 protocols=h1 tls= port caddy_pid
  mkdir -p "$work/www" "$work/xdg"
  if [ "$scheme" = https ]; then
    make_test_cert "$work"
    export QUORVEL_CA_FILE=$work/cert.pem
    protocols="h1 h2"
    tls="tls $work/cert.pem $work/key.pem"
  fi
  # A port below the ephemeral ones; another one if it is taken.
  for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 12000))
    cat > "$work/Caddyfile" <<CADDY
{
	admin off
	auto_https disable_redirects
	servers {
		protocols $protocols
	}
}
$scheme://127.0.0.1:$port {
	bind 127.0.0.1
	$tls
	root * $work/www
	file_server
}
CADDY
    XDG_DATA_HOME=$work/xdg XDG_CONFIG_HOME=$work/xdg \
      caddy run --adapter caddyfile --config "$work/Caddyfile" >"$work/caddy.log" 2>&1 &
    caddy_pid=$!
    direct_base=$scheme://127.0.0.1:$port
    for _ in $(seq 100); do
      kill -0 "$caddy_pid" 2>/dev/null || break
      if curl -s -o /dev/null ${QUORVEL_CA_FILE:+--cacert "$QUORVEL_CA_FILE"} "$direct_base/"; then
        pids+=("$caddy_pid")
        build/bench/wan_relay --rtt-ms "$rtt" --conn-rate "$rate" --window "$window" "$port" >"$work/relay.txt" &
        pids+=($!)
        for _ in $(seq 100); do [ -s "$work/relay.txt" ] && break; sleep 0.05; done
        wan_base=$scheme://$(sed -n 's/^relay on //p' "$work/relay.txt")
        [ "$wan_base" != "$scheme://" ] && return 0
        echo "bench: the relay did not start" >&2
        return 1
      fi
      sleep 0.1
    done
    kill "$caddy_pid" 2>/dev/null
    wait "$caddy_pid" 2>/dev/null
  done
  echo "bench: Caddy did not start" >&2
  tail -5 "$work/caddy.log" >&2
  return 1
}
