#!/usr/bin/env bash
# The setup's decision about Debian's caddy.service and nginx.service, with stand-ins for
# systemd (it does not run where the tests run): disabled only when setup
# installed caddy itself and systemd runs.
set -uo pipefail
source "$(dirname "$0")/../scripts/lib/caddy-service.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\necho "$*" >> "%s/calls"\n' "$work" > "$work/systemctl"
chmod +x "$work/systemctl"
export SYSTEMCTL=$work/systemctl
passed=0 failed=0

# check NAME INSTALLED_NOW SYSTEMD_RUNS EXPECTED_CALLS [SERVICE]
check() {
  rm -f "$work/calls"
  if [ "$3" = yes ]; then mkdir -p "$work/run-systemd"; else rm -rf "$work/run-systemd"; fi
  SYSTEMD_RUN_DIR=$work/run-systemd quiet_service "${5:-caddy}" "$2" >/dev/null
  local calls
  calls=$(cat "$work/calls" 2>/dev/null)
  if [ "$calls" = "$4" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $1: systemctl calls '$calls', expected '$4'"
  fi
}

check "installed now, systemd runs" yes yes "disable --now caddy.service"
check "installed now, no systemd" yes no ""
check "there before, systemd runs" no yes ""
check "nginx installed now, systemd runs" yes yes "disable --now nginx.service" nginx
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
