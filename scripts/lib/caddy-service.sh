# Debian's caddy and nginx packages enable and start a system web server on
# port 80. The client only needs the caddy binary and runs its own server,
# and the tests start nginx with a config of their own, so setup undoes that
# when it installed the package itself. A machine that had the package
# before keeps its service as it was.
#
# quiet_service NAME INSTALLED_NOW: NAME is the service (caddy, nginx);
# INSTALLED_NOW is "yes" when this run of setup installed its package.
# SYSTEMD_RUN_DIR and SYSTEMCTL (a command, split into words: "sudo
# systemctl") may name stand-ins (tests).
quiet_service() {
  [ "$2" = yes ] || return 0
  [ -d "${SYSTEMD_RUN_DIR:-/run/systemd/system}" ] || return 0
  # shellcheck disable=SC2086
  if ${SYSTEMCTL:-systemctl} disable --now "$1.service" >/dev/null 2>&1; then
    echo "setup: disabled and stopped $1.service (the client and the tests start their own servers)"
  else
    echo "setup: could not disable $1.service; it may still serve port 80" >&2
  fi
}
