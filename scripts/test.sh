#!/usr/bin/env bash
# Builds the library and runs the whole test suite twice: a normal build and
# a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
status=0
for config in release asan; do
  dir=build/$config
  flags=(-DTUL_WERROR=ON)
  [ "$config" = asan ] && flags+=(-DTUL_SANITIZE=ON)
  echo "== $config build =="
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs") || status=1
done
exit $status
