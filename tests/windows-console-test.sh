#!/usr/bin/env bash
# quorvel-client.exe, a windowed program, answers --help and --version
# through a pipe (`quorvel-client.exe --help | more`), in the words of
# Windows: no X display, the log's folder as Windows names it.
#
#   tests/windows-console-test.sh BUILD_WIN_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
source "$build/wine.env"
client=$build/bin/quorvel-client.exe
failed=0
check() {  # check WHAT TEST...
  local what=$1
  shift
  "$@" || { failed=1; echo "FAILED: $what"; printf '%s\n' "$help" | sed 's/^/    /'; }
}
help=$(DISPLAY= wine "$client" --help | cat | tr -d '\r')
check "the help through a pipe" grep -q '^usage: quorvel-client$' <<<"$help"
check "the log's folder in Windows' words" grep -qF '%LOCALAPPDATA%\Quorvel\logs' <<<"$help"
check "no X display on Windows" test -z "$(tr '\n' ' ' <<<"$help" | grep 'X display')"
version=$(DISPLAY= wine "$client" --version | cat | tr -d '\r')
check "the version through a pipe: '$version'" grep -qx 'quorvel-client [0-9.]*' <<<"$version"
exit $failed
