# Debian's caddy package enables and starts caddy.service, a system web
# server on port 80. The client only needs the caddy binary and runs its own
# server, so setup undoes that when it installed the package itself. A
# machine that had caddy before keeps its service as it was.
#
# quiet_caddy_service INSTALLED_NOW: INSTALLED_NOW is "yes" when this run of
# setup installed the caddy package. SYSTEMD_RUN_DIR and SYSTEMCTL (a
# command, split into words: "sudo systemctl") may name stand-ins (tests).
quiet_caddy_service() {
  [ "$1" = yes ] || return 0
  [ -d "${SYSTEMD_RUN_DIR:-/run/systemd/system}" ] || return 0
  # shellcheck disable=SC2086
  if ${SYSTEMCTL:-systemctl} disable --now caddy.service >/dev/null 2>&1; then
    echo "setup: disabled and stopped caddy.service (the client starts its own Caddy on 127.0.0.1:3000)"
  else
    echo "setup: could not disable caddy.service; it may still serve port 80" >&2
  fi
}
