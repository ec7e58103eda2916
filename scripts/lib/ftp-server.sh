# Sourced by the scripts that need a local FTP server (run from the project's
# root): the test server, tests/ftp/ftp_server.py, on 127.0.0.1.
#   start_ftp_server ROOT LOGDIR [ARGS...]  serves ROOT; sets server_pid and
#                                           port; exits when it does not start
#   stop_ftp_server                         stops it; safe to call twice
server_pid=
start_ftp_server() {
  local root=$1 logs=$2
  shift 2
  /usr/bin/python3 tests/ftp/ftp_server.py --root "$root" "$@" >"$logs/server.out" 2>"$logs/server.err" &
  server_pid=$!
  for _ in $(seq 100); do grep -q '^PORT ' "$logs/server.out" && break; sleep 0.1; done
  port=$(awk '/^PORT /{print $2}' "$logs/server.out")
  if [ -z "$port" ]; then
    echo "the FTP server did not start:" >&2
    cat "$logs/server.err" >&2
    exit 1
  fi
}
stop_ftp_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  server_pid=
}
