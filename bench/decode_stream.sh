#!/usr/bin/env bash
# Streaming decode of many records by the tul program: COUNT copies of
# examples/trap.ber back to back (100,000 by default), decoded from a file
# and from a pipe, and again at ten times the count to show that memory does
# not follow the input. Prints records per second and peak resident memory.
#   bench/decode_stream.sh [path/to/tul] [COUNT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tul=${1:-$root/build/release/tul}
count=${2:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# COUNT copies by doubling, then cut to size.
make_input() {
  local out=$1 n=$2 size
  size=$(stat -c %s "$root/examples/trap.ber")
  cp "$root/examples/trap.ber" "$out"
  while [ "$(stat -c %s "$out")" -lt $((n * size)) ]; do
    cat "$out" "$out" > "$out.next"
    mv "$out.next" "$out"
  done
  truncate -s $((n * size)) "$out"
}

# Runs "tul decode" reading from $2 (a file, or "pipe:FILE") and reports.
measure() {
  local label=$1 input=$2 n=$3 stats
  if [[ $input == pipe:* ]]; then
    stats=$( { /usr/bin/time -f "%e %M" sh -c "cat '${input#pipe:}' | '$tul' --defs '$root/examples/snmpv1.defs' decode Message - >/dev/null"; } 2>&1 )
  else
    stats=$( { /usr/bin/time -f "%e %M" "$tul" --defs "$root/examples/snmpv1.defs" decode Message "$input" >/dev/null; } 2>&1 )
  fi
  read -r seconds rss <<<"$(tail -n 1 <<<"$stats")"
  awk -v l="$label" -v n="$n" -v s="$seconds" -v r="$rss" \
    'BEGIN { printf "%-28s %9d records %7.2f s %10.0f records/s  peak RSS %6.1f MiB\n", l, n, s, (s > 0 ? n / s : 0), r / 1024 }'
}

make_input "$work/traps.ber" "$count"
make_input "$work/more.ber" $((count * 10))
echo "tul decode of concatenated traps ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
measure "file" "$work/traps.ber" "$count"
measure "pipe" "pipe:$work/traps.ber" "$count"
measure "file, 10 times the count" "$work/more.ber" $((count * 10))
