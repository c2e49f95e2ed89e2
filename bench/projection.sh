#!/usr/bin/env bash
# What the projection costs: the same work through zorvik/Zorvik.h and through the raw ABI, in
# one run, side by side (bench_projection): listing a zip of 100,000 entries (path, size, time,
# encrypted of each) and extracting 256 MiB of mixed files from a 7z (LZMA2) into memory.
# Medians of wall time; the ratio is the projection's time over the raw ABI's, expected within
# 2 %. Both ways print a checksum of what they saw, which must agree.
#
#   bench/projection.sh [path/to/build/bin]      (default: build/bin)
#
# $ZORVIK_BENCH_ENTRIES and $ZORVIK_BENCH_MIB override the sizes (100000, 256).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "${1:-$here/../build/bin}")
source "$here/extract_common.sh"
need 7zz zip python3 /usr/bin/time "$bin/bench_projection"

make_empty_files "${ZORVIK_BENCH_ENTRIES:-100000}" "$work/listed"
(cd "$work/listed" && zip -qr -0 "$work/listed.zip" .)
rm -rf "$work/listed"
make_mixed_source "${ZORVIK_BENCH_MIB:-256}"
(cd "$work/source" && 7zz a -bd -bso0 -t7z -m0=lzma2 -mx=5 "$work/mixed.7z" .)
rm -rf "$work/source"

echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-22s %10s %10s %8s\n' work raw projection ratio
status=0
for job in "list listed.zip" "extract mixed.7z"; do
    set -- $job
    raw_sum=$("$bin/bench_projection" "$1" raw "$work/$2")
    projected_sum=$("$bin/bench_projection" "$1" projection "$work/$2")
    [[ $raw_sum == "$projected_sum" ]] || { echo "projection.sh: $1 $2: the checksums differ ($raw_sum, $projected_sum)" >&2; status=1; }
    alternate true "$bin/bench_projection $1 raw $work/$2" "$bin/bench_projection $1 projection $work/$2"
    awk -v w="$1 $2" -v a="$(median 0 2)" -v b="$(median 1 2)" 'BEGIN { printf "%-22s %9.3fs %9.3fs %7.3fx\n", w, a, b, b / a }'
done
exit $status
