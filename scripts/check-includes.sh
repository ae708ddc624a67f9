#!/usr/bin/env bash
# Layering check: lower layers never include higher ones.
#   src/util       includes nothing of the engine's other folders
#   src/board      includes board/, util/ and the network piece state (xnnue/state.h) only
#   src/search, src/eval, src/xnnue, src/syzygy   never include interface/
# Prints every offending line and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
check() {  # folder, forbidden-include pattern (extended regex), explanation
  local dir=$1 pattern=$2 why=$3 hits
  [ -d "$dir" ] || return 0
  hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]+\"($pattern)" "$dir" || true)
  if [ -n "$hits" ]; then
    echo "check-includes: $why:"
    echo "$hits"
    status=1
  fi
}
check src/util 'board/|search/|interface/|eval/|xnnue/|syzygy/' "src/util must not include engine folders"
check src/board 'search/|interface/|eval/|syzygy/|xnnue/[^s]|xnnue/s[^t]' "src/board may include only board/, util/ and xnnue/state.h"
for d in src/search src/eval src/xnnue src/syzygy; do
  check "$d" 'interface/' "$d must not include interface/"
done
[ $status -eq 0 ] && echo "check-includes: layering ok"
exit $status
