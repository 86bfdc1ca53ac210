#!/usr/bin/env bash
# Configures and builds into build/ (or build-asan/, build-tsan/ with SANITIZE=address|thread).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
san=${SANITIZE:-}
case "$san" in
  "") dir="$root/build" ;;
  address) dir="$root/build-asan" ;;
  thread) dir="$root/build-tsan" ;;
  *) echo "SANITIZE must be address or thread" >&2; exit 2 ;;
esac
extra=()
[ -n "$san" ] && extra+=(-DVEXA_BUILD_BENCH=OFF)
# Build output goes to stderr; the build directory is the one line on stdout.
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE="$san" "${extra[@]}" >&2
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
