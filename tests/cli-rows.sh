# The harness of the tables of command lines (cli-test.sh,
# windows-cli-test.sh), sourced after setting $demo to the demo services:
# starts them on a free port ($base, $port; $c is their content) and gives
# `row` and `summary`. $work is the table's scratch directory; `cleanup`
# stops the services and removes it at the end.
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
"$demo" 0 >"$work/server.txt" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/server.txt" ] && break; sleep 0.05; done
base=$(sed -n 's/^demo services on //p' "$work/server.txt")
port=${base##*:}
c=$base/content

passed=0 failed=0
# row EXIT FRAGMENT LEFT COMMAND...: runs COMMAND in an empty directory
# $work/out (holding an empty d/); LEFT lists the names that must be there
# afterwards besides d ("-": none).
row() {
  local code=$1 fragment=$2 left=$3
  shift 3
  rm -rf "$work/out" && mkdir -p "$work/out/d"
  (cd "$work/out" && timeout 60 "$@" >"$work/said.txt" 2>&1)
  local got=$? files
  files=$(cd "$work/out" && find . -mindepth 1 -not -path ./d | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
  [ "$left" = - ] && left=
  if [ "$got" = "$code" ] && grep -qF -- "$fragment" "$work/said.txt" && [ "$files" = "${left:+$left }" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $* -> exit $got (want $code), left '$files' (want '$left'):"
    sed 's/^/    /' "$work/said.txt" | head -5
  fi
}

# summary [WHAT]: the counts; fails the table when a row failed.
summary() {
  echo "${1:+$1: }$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
