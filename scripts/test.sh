#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs the tests:
#   release  (AVX2, LTO)          all unit tests
#   portable (no AVX2)            all unit tests
#   asan     (Address+UB sanitizers) all unit tests
#   tsan     (ThreadSanitizer)      the threaded-search tests
# The release and portable builds also compare their bench signature with the last
# "Bench:" line of the commit history (scripts/check-bench.sh).
# Set QUORIX_TEST_CONFIGS to a subset (e.g. "release") to run fewer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
configs=${QUORIX_TEST_CONFIGS:-"release portable asan tsan"}
status=0
for cfg in $configs; do
  case $cfg in
    release)  flags=(-DCMAKE_BUILD_TYPE=Release) ;;
    portable) flags=(-DCMAKE_BUILD_TYPE=Release -DQUORIX_PORTABLE=ON) ;;
    asan)     flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DQUORIX_SANITIZE=address,undefined") ;;
    tsan)     flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORIX_SANITIZE=thread) ;;
    *) echo "unknown configuration $cfg" >&2; exit 2 ;;
  esac
  echo "=== $cfg: build"
  cmake -S . -B "build/$cfg" "${flags[@]}" >/dev/null
  cmake --build "build/$cfg" -j"$jobs"
  echo "=== $cfg: test"
  select=(-LE full)
  [ "$cfg" = tsan ] && select=(-LE full -R "Thread")
  if ! (cd "build/$cfg" && ctest "${select[@]}" --output-on-failure -j"$jobs" --timeout 600); then
    status=1
  fi
  if [ "$cfg" = release ] || [ "$cfg" = portable ]; then
    echo "=== $cfg: bench signature"
    bash scripts/check-bench.sh "build/$cfg/quorix" || status=1
  fi
done
exit $status
