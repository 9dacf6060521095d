#!/usr/bin/env bash
# Builds everything, runs the small API examples, then decodes the bundled
# SNMPv1 trap with the bundled definitions using the tul program, and ends
# by saying where the program is.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DTUL_WERROR=ON >/dev/null
cmake --build build/release --target hello_value hello_sequence hello_sequence_cpp tul_cli \
  -j"$(nproc 2>/dev/null || echo 2)"
build/release/hello_value
build/release/hello_sequence
build/release/tul --defs examples/snmpv1.defs --defs examples/mib2.defs decode Message examples/trap.ber
echo
echo "The tul program is $(pwd)/build/release/tul; the README calls it build/release/tul."
