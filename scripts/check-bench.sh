#!/usr/bin/env bash
# Compares the bench signature of a built engine with the last "Bench: <n>" line in the
# commit history. A refactor must keep it; a change of search behaviour records the new
# total in its commit message.
# Usage: scripts/check-bench.sh [engine binary]   (default build/release/quorix)
set -euo pipefail
cd "$(dirname "$0")/.."
engine=${1:-build/release/quorix}
if ! command -v git >/dev/null 2>&1 || ! git rev-parse --git-dir >/dev/null 2>&1; then
  echo "check-bench: not a git checkout, nothing to compare with (skipped)"
  exit 0
fi
last_bench() { git log --format=%B | sed -n 's/^[[:space:]]*Bench:[[:space:]]*\([0-9][0-9]*\)[[:space:]]*$/\1/p' | head -n 1; }
expected=$(last_bench)
if [ -z "$expected" ] && [ "$(git rev-parse --is-shallow-repository 2>/dev/null)" = true ]; then
  # A shallow clone may not reach the commit that recorded the signature.
  git fetch --quiet --unshallow >/dev/null 2>&1 || true
  expected=$(last_bench)
fi
if [ -z "$expected" ]; then
  echo "check-bench: no \"Bench:\" line in the reachable history (skipped)"
  exit 0
fi
actual=$(bash scripts/bench-signature.sh "$engine")
if [ "$actual" != "$expected" ]; then
  echo "check-bench: MISMATCH: the engine's bench total is $actual, the last \"Bench:\" line in git log says $expected."
  echo "check-bench: a refactor must not change the node count; a commit that changes search behaviour"
  echo "check-bench: must end its message with \"Bench: $actual\"."
  exit 1
fi
echo "check-bench: bench total $actual matches the history"
