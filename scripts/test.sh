#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs the tests:
#   release  (AVX2, LTO)          all unit tests
#   portable (no AVX2)            all unit tests
#   asan     (Address+UB sanitizers) all unit tests
#   tsan     (ThreadSanitizer)      the threaded-search tests and the random-command client
# The release and portable builds also compare their bench signature with the last
# "Bench:" line of the commit history (scripts/check-bench.sh).
# Set QUORIX_TEST_CONFIGS to a subset (e.g. "release") to run fewer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-includes.sh
jobs=$(nproc)
configs=${QUORIX_TEST_CONFIGS:-"release portable asan tsan"}
status=0
for cfg in $configs; do
  case $cfg in
    release)  flags=(-DCMAKE_BUILD_TYPE=Release -DQUORIX_WERROR=ON) ;;
    portable) flags=(-DCMAKE_BUILD_TYPE=Release -DQUORIX_PORTABLE=ON -DQUORIX_WERROR=ON) ;;
    asan)     flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DQUORIX_SANITIZE=address,undefined" -DQUORIX_WERROR=ON) ;;
    tsan)     flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORIX_SANITIZE=thread -DQUORIX_WERROR=ON) ;;
    *) echo "unknown configuration $cfg" >&2; exit 2 ;;
  esac
  echo "=== $cfg: build"
  cmake -S . -B "build/$cfg" "${flags[@]}" >/dev/null
  targets=()
  # The tools are built (and so compiled warning-free) once, in the release configuration;
  # the others build the engine and what the unit tests run.
  [ "$cfg" != release ] && targets=(--target quorix quorix_tests)
  cmake --build "build/$cfg" -j"$jobs" "${targets[@]}"
  echo "=== $cfg: test"
  select=(-LE full)
  [ "$cfg" = tsan ] && select=(-LE full -R "Thread")
  # The random-command client gets longer sessions under the sanitizers.
  random_s=4
  case $cfg in asan|tsan) random_s=45 ;; esac
  if ! (cd "build/$cfg" && QUORIX_RANDOM_SECONDS=$random_s ctest "${select[@]}" --output-on-failure -j"$jobs" --timeout 600); then
    status=1
  fi
  if [ "$cfg" = release ] || [ "$cfg" = portable ]; then
    echo "=== $cfg: bench signature"
    bash scripts/check-bench.sh "build/$cfg/quorix" || status=1
  fi
done
exit $status
