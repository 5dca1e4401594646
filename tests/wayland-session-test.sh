#!/usr/bin/env bash
# The client in a Wayland session: a headless weston with XWayland stands in
# for GNOME's. With WAYLAND_DISPLAY set and GDK_BACKEND unset, the client
# must still open X11 windows (through XWayland), so that a second copy
# finds the first one's window and ends.
# Usage: wayland-session-test.sh CLIENT
set -uo pipefail
client=$1
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
  { for pid in "${pids[@]}"; do kill -9 "$pid"; wait "$pid"; done; } 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

weston --backend=headless-backend.so --xwayland --socket=wayland-test --idle-time=0 >"$work/weston.log" 2>&1 &
pids+=("$!")
for _ in $(seq 100); do grep -q "xserver listening on display" "$work/weston.log" && break; sleep 0.1; done
display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log")
if [ -z "$display" ]; then
  echo "weston did not start:"; cat "$work/weston.log"
  echo "0 passed, 1 failed"; exit 1
fi
export WAYLAND_DISPLAY=wayland-test DISPLAY=$display
unset GDK_BACKEND
# The login waits on no service: any account host will do.
export QUORVEL_ACCOUNT_HOST=127.0.0.1:9

passed=0 failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
login_windows() { xdotool search --name '^Quorvel加速场控登录$' 2>/dev/null | wc -l; }

"$client" 2>"$work/first.err" &
first=$!
pids+=("$first")
for _ in $(seq 200); do [ "$(login_windows)" -ge 1 ] && break; sleep 0.1; done
check "the first copy shows its login window as an X11 window" '[ "$(login_windows)" -eq 1 ]'

timeout 20 "$client" 2>"$work/second.err"
status=$?
check "a second copy ends at once with 0 (was $status)" '[ "$status" -eq 0 ]'
check "one login window in all" '[ "$(login_windows)" -eq 1 ]'
check "the first copy still runs" 'kill -0 "$first"'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
