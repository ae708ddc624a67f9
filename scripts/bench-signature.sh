#!/usr/bin/env bash
# Prints the bench signature: the node total of a one-thread fixed-depth benchmark.
# Usage: scripts/bench-signature.sh [engine binary]   (default build/release/quorix)
# Every commit that changes what the search does ends its message with "Bench: <this number>".
set -euo pipefail
cd "$(dirname "$0")/.."
SIGNATURE_DEPTH=11
engine=${1:-build/release/quorix}
if [ ! -x "$engine" ]; then
  echo "bench-signature: no engine binary at $engine (build it first)" >&2
  exit 2
fi
if ! out=$("$engine" bench 1 "$SIGNATURE_DEPTH" 2>&1); then
  printf '%s\n' "$out" | tail -n 20 >&2
  echo "bench-signature: the benchmark failed" >&2
  exit 2
fi
# The line of the deepest iteration: "<depth> ..... <nodes> nds <secs> sec ...".
total=$(printf '%s\n' "$out" | awk -v d="$SIGNATURE_DEPTH" '$1 == d && $4 == "nds" { print $3 }' | tail -n 1)
if [ -z "$total" ]; then
  printf '%s\n' "$out" | tail -n 20 >&2
  echo "bench-signature: no depth-$SIGNATURE_DEPTH total in the bench output" >&2
  exit 2
fi
echo "$total"
