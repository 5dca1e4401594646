# Shared by scripts/run and scripts/tour: the demo services, a private X
# server, and driving the client's windows with xdotool. Source it from the
# repository's root after scripts/setup.

# The demo services are the Linux build's in both; QUORVEL_TARGET=windows
# drives the Windows build under Wine (scripts/setup-windows made it).
demo_bin=$PWD/build/bin
if [ "${QUORVEL_TARGET:-linux}" = windows ]; then
  bin=$PWD/build-win/bin
  shots=$PWD/build-win/screenshots
  client_cmd=(wine "$bin/quorvel-client.exe")
else
  bin=$PWD/build/bin
  shots=$PWD/build/screenshots
  client_cmd=("$bin/quorvel-client")
fi
demo_user=demo@quorvel.test
demo_password=quorvel2026
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# The client runs in the locale of a Chinese Linux desktop (UTF-8), under
# which the cache's names are those of the URLs the screens ask for.
# QUORVEL_LANG=zh_CN.GBK runs it in the code page of a Chinese Windows system.
default_lang=C.UTF-8
if grep -qi '^zh_CN\.utf-\?8$' <<<"$(locale -a 2>/dev/null)"; then default_lang=zh_CN.UTF-8; fi
export LANG=${QUORVEL_LANG:-$default_lang} LC_ALL=${QUORVEL_LANG:-$default_lang}
export GDK_BACKEND=x11 NO_AT_BRIDGE=1

# Demo services on a free loopback port, announced on their first line.
start_demo() {
  coproc demo { exec "$demo_bin/quorvel-demo-services" 0; }
  pids+=("$demo_PID")
  read -r announce <&"${demo[0]}"
  demo_address=${announce##*http://}
  echo "demo: $announce"
  export QUORVEL_ACCOUNT_HOST=$demo_address QUORVEL_MEETING_HOST=$demo_address QUORVEL_RESOURCE_HOST=$demo_address
}

start_xvfb() {
  local n=99
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  export DISPLAY=:$n
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=("$!")
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start on $DISPLAY" >&2; exit 1; }
  mkdir -p "$shots"
}

# wait_for SECONDS COMMAND...: until COMMAND succeeds; fails after SECONDS.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# window_of CAPTION: the id of the window with that caption, waiting until
# it is shown: X refuses the focus to a window not yet mapped.
window_of() {
  timeout 20 xdotool search --sync --onlyvisible --limit 1 --name "^$1\$" 2>/dev/null
}

# shot NAME WINDOW: saves what the window shows.
shot() {
  sleep 1
  import -window "$2" "$shots/$1.png"
  echo "screenshot: $shots/$1.png"
}

# Starts the client and signs in with the demo user; sets $client and $main.
sign_in() {
  "${client_cmd[@]}" &
  client=$!
  pids+=("$client")
  local login
  login=$(window_of 'Quorvel加速场控登录')
  focus_user_field "$login"
  shot 1-login "$login"
  xdotool type --delay 30 "$demo_user"
  xdotool key Tab            # leaving the field looks up the companies
  xdotool type --delay 30 "$demo_password"
  shot 2-login-filled "$login"
  xdotool key Return
  main=$(window_of 'Quorvel加速场控')
  measure_main
  shot 3-main "$main"
}

# The login window (161 x 122 dialog units) takes the keyboard in its user
# field: X focus where GTK runs; under Wine (no window manager) a click in
# the field (69, 17, 71, 18), which Wine turns into activation and focus.
focus_user_field() {
  if [ "${QUORVEL_TARGET:-linux}" != windows ]; then
    xdotool windowfocus --sync "$1"
    return
  fi
  local WIDTH HEIGHT X Y SCREEN WINDOW
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH * 209 / 322)) $((HEIGHT * 52 / 244)) click 1
}

# click X Y: a click at that point of the main window.
click() {
  xdotool mousemove --window "$main" "$1" "$2" click 1
}

# The main window's dialog base units, from its size (396 x 322 dialog
# units), so clicks land on the controls whatever font the locale gives.
measure_main() {
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$main")"
  base_x=$(( (WIDTH * 4 + 198) / 396 )) base_y=$(( (HEIGHT * 8 + 161) / 322 ))
}

# click_control X Y CX CY: a click in the middle of a control of the main
# window, given by its rectangle in dialog units (res/DialogTemplates.cpp).
click_control() {
  click $(( ($1 * 2 + $3) * base_x / 8 )) $(( ($2 * 2 + $4) * base_y / 16 ))
}

click_first_meeting() {  # list 1005 (13, 56, 84, 252): its first row, below the header
  click $(( (13 * 2 + 84) * base_x / 8 )) $(( 56 * base_y / 8 + 2 * base_y + 2 ))
}
click_start_caching() { click_control 265 16 55 33; }   # IDOK
click_accelerate() { click_control 327 16 55 33; }      # 1007

# Closes the main window with Escape and waits for the client to end.
close_client() {
  if [ "${QUORVEL_TARGET:-linux}" = windows ]; then
    click_control 177 29 35 8   # the label 实际耗时: activates the window under Wine
  else
    xdotool windowfocus --sync "$main"
  fi
  xdotool key Escape
  if ! timeout 20 tail --pid="$client" -f /dev/null; then
    echo "the client did not close" >&2
    return 1
  fi
}
