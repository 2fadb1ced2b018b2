#!/bin/bash
# scripts/directory-server says "running" only for a slapd that answers on the port
# itself: with the port held by another process it fails with slapd's log; with a free
# port it runs until stopped.
#
#   tests/directory_server.sh SOURCE_DIR
set -uo pipefail
src=${1:?usage: $0 SOURCE_DIR}
script=$src/scripts/directory-server
command -v slapd >/dev/null || [ -x /usr/sbin/slapd ] || { echo "SKIP: no slapd"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orvelle-dstest.XXXXXX")
holder=
server=
cleanup() {
  [ -n "$server" ] && kill -TERM "$server" 2>/dev/null && wait "$server" 2>/dev/null
  [ -n "$holder" ] && kill "$holder" 2>/dev/null && wait "$holder" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.out "$work"/*.err; do echo "--- $f"; cat "$f"; done; exit 1; }

# A listener that holds a loopback port (and answers connects) until killed.
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(16)
print(s.getsockname()[1], flush=True)
while True: time.sleep(1)' >"$work/port" &
holder=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")
[ -n "$port" ] || fail "the port holder did not start"

# The port is taken: the script must fail, name the failure and show slapd's log, and
# never claim a server is running.
PORT=$port timeout 60 "$script" "$work/taken" >"$work/taken.out" 2>"$work/taken.err"
status=$?
[ $status -ne 0 ] || fail "exit status 0 with the port taken"
[ $status -ne 124 ] || fail "still running after 60 s with the port taken"
grep -q running "$work/taken.out" && fail "claims to be running with the port taken"
grep -q "did not start" "$work/taken.err" || fail "does not say that slapd did not start"
grep -qi "bind" "$work/taken.err" || fail "does not show slapd's log"

# A free port: running, and stopped by "stop DIR".
kill "$holder"
wait "$holder" 2>/dev/null
holder=
PORT=$port "$script" "$work/free" >"$work/free.out" 2>"$work/free.err" &
server=$!
for _ in $(seq 200); do grep -q running "$work/free.out" && break; sleep 0.05; done
grep -q "running (slapd pid" "$work/free.out" || fail "no server running on a free port"
"$script" stop "$work/free" >/dev/null || fail "stop failed"
wait "$server"
server=
echo "PASS"
