#!/usr/bin/env bash
# Builds everything, runs the small API example, then decodes the bundled
# SNMPv1 trap with the bundled definitions using the tul program.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DTUL_WERROR=ON >/dev/null
cmake --build build/release --target hello_value tul_cli -j"$(nproc 2>/dev/null || echo 2)"
build/release/hello_value
build/release/tul --defs examples/snmpv1.defs --defs examples/mib2.defs decode Message examples/trap.ber
