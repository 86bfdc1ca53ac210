#!/usr/bin/env bash
# Runs the C host example against the built plug-in with one simulated panel.
#   host_c_test.sh HOST_C LIBVEXADEV DEVSIM
set -uo pipefail
host=$1 plugin=$2 devsim=$3
. "$(dirname "$0")/common.sh"
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
# The plug-in reads this from the current directory; a short wait keeps a failing run short.
printf '<config><req_timeout>3</req_timeout><sendTimeOut>3</sendTimeOut></config>\n' >local_config.xml
reg=$(free_port) alarm=$(free_port)
timeout 60 "$host" "$plugin" "$reg" "$alarm" panel1 secret 20 >"$work/host.out" 2>&1 &
hostpid=$!
pids+=("$hostpid")
if ! wait_for "$work/host.out" "^listening" 15 "$hostpid"; then
  echo "host did not start listening"; cat "$work/host.out"; exit 1
fi
"$devsim" --cms-port "$reg" --ams-port "$alarm" --count 1 --id-prefix panel --key secret \
  --equipment panel --duration 30 >"$work/devsim.out" 2>&1 &
pids+=("$!")
wait "$hostpid"
rc=$?
cat "$work/host.out"
grep -q "^status panel1: 0 " "$work/host.out" || { echo "FAIL: the panel never came on line"; rc=1; }
grep -q '^arm answer: .*"statusCode":1,' "$work/host.out" || { echo "FAIL: no OK answer to the arm call"; rc=1; }
grep -q "load config" "$work/host.out" && { echo "FAIL: the configuration file was not read"; rc=1; }
grep -q "^shutdown 0" "$work/host.out" || { echo "FAIL: Plugin_Fini did not succeed"; rc=1; }
[ "$rc" -eq 0 ] || { echo "-- devsim:"; cat "$work/devsim.out"; }
exit "$rc"
