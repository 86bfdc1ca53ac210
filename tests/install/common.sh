# Helpers shared by the install tests: free loopback ports and bounded waits.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null ||
    echo $((20000 + RANDOM % 40000))
}
# wait_for FILE PATTERN SECONDS PID: true once PATTERN shows up in FILE; false after SECONDS or
# once process PID has ended without it.
wait_for() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    kill -0 "$4" 2>/dev/null || { grep -q "$2" "$1" 2>/dev/null; return; }
    sleep 0.1
  done
  return 1
}
