#!/usr/bin/env bash
# Builds the library and runs the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DTUL_WERROR=ON >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)"
build/release/hello_value
