#!/usr/bin/env bash
# Installs what is missing, builds the Release engine and starts it in UCI mode.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DQUORIX_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target quorix >&2
exec ./build/release/quorix "$@"
