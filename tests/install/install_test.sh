#!/usr/bin/env bash
# Installs the built tree into a temporary prefix, moves it, and checks what a
# user of the installation meets: the program runs and finds the example
# definitions by bare name, and the examples build against the installed
# library through pkg-config and through find_package(tul).
# Arguments: build directory, examples directory, C compiler, C++ compiler,
# cmake; extra compiler flags (the sanitizers) in TUL_CONSUMER_FLAGS.
set -euo pipefail
build=$1 examples=$2 cc=$3 cxx=$4 cmake=$5
flags=${TUL_CONSUMER_FLAGS:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cmake" --install "$build" --prefix "$work/staged" >/dev/null
# Relocatable: everything must work from wherever the tree ends up.
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

out=$("$prefix/bin/tul" --defs snmpv1 types)
grep -qx 'Trap-PDU' <<<"$out" || { echo "installed tul did not load snmpv1 by name"; exit 1; }
"$prefix/bin/tul" --defs snmpv1.per describe Trap-PDU >/dev/null

pc=$(dirname "$(find "$prefix" -name tul.pc)")
export PKG_CONFIG_PATH=$pc
libdir=$(pkg-config --variable=libdir tul)
[ -e "$libdir/libtul.so" ] || { echo "tul.pc gives libdir $libdir without libtul.so"; exit 1; }
# shellcheck disable=SC2046,SC2086
"$cc" $flags "$examples/hello_sequence.c" $(pkg-config --cflags --libs tul) -Wl,-rpath,"$libdir" -o "$work/pc_c"
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$examples/hello_sequence.cc" $(pkg-config --cflags --libs tul) -Wl,-rpath,"$libdir" \
  -o "$work/pc_cpp"
"$work/pc_c" >/dev/null
"$work/pc_cpp" >/dev/null

"$cmake" -S "$(dirname "$0")/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DEXAMPLES="$examples" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
"$cmake" --build "$work/consumer" >/dev/null
"$work/consumer/hello_c" >/dev/null
"$work/consumer/hello_cpp" >/dev/null

# The Python binding finds the installed library beside its package.
if [ -n "${TUL_PYTHON:-}" ]; then
  site=$(dirname "$(find "$prefix" -name __init__.py -path '*/tul/*')")
  env -u TUL_LIBRARY PYTHONPATH="$(dirname "$site")" "$TUL_PYTHON" -c \
    'import tul; d = tul.Dictionary(); print(d.decode("INTEGER", b"\x02\x01\x05")); d.close()' | grep -qx 'INTEGER 5'
fi
echo "installed, moved, and used through pkg-config, find_package and Python"
