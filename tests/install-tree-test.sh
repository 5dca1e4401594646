#!/usr/bin/env bash
# What `cmake --install` lays out: a private program directory, only the
# client and qv-download on the PATH, a valid menu entry and its icons, all
# of it in install_manifest.txt (what an uninstall removes); also under a
# prefix with a space and a quote.
# Usage: install-tree-test.sh BUILD_DIR
set -uo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

for prefix in "$work/plain" "$work/Program Files \"q\""; do
  cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAILED: install to $prefix"; failed=$((failed + 1)); continue; }
  program=$prefix/lib/quorvel-client
  entry=$prefix/share/applications/quorvel-client.desktop
  check "the program directory holds client, launcher and Caddyfile" \
    '[ -x "$program/quorvel-client" ] && [ -x "$program/caddy" ] && [ -f "$program/Caddyfile" ]'
  check "bin/ has the client (a link into the program directory) and qv-download, nothing else" \
    '[ "$(readlink -f "$prefix/bin/quorvel-client")" = "$(readlink -f "$program/quorvel-client")" ] &&
     [ "$(ls "$prefix/bin" | tr "\n" " ")" = "quorvel-client qv-download " ]'
  check "the menu entry is valid" 'desktop-file-validate "$entry"'
  check "the menu entry starts the installed client" \
    '[ "$(sed -n "s/^TryExec=//p" "$entry" | sed "s/\\\\\\\\/\\\\/g")" = "$prefix/bin/quorvel-client" ]'
  check "install_manifest.txt lists every file and link made" \
    '[ "$(find "$prefix" ! -type d | sort)" = "$(sort "$build/install_manifest.txt")" ]'
  for size in 32 48 64 128; do
    check "an icon of ${size}x$size" \
      '[ "$(identify -format "%wx%h" "$prefix/share/icons/hicolor/${size}x$size/apps/quorvel-client.png")" = "${size}x$size" ]'
  done
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
