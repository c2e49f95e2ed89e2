#!/usr/bin/env bash
# Extraction against `7zz x`, side by side on the same archives: `zorvik extract` on a mixed data
# set of $ZORVIK_BENCH_MIB MiB (default 256) as 7z LZMA2 (made with threads, and with one) and as
# 7z Copy (stored), and on 20,000 small files (1 to 4 KiB) as 7z and as zip. The tools run in
# turn, into a fresh folder each time; medians of wall time and peak memory (/usr/bin/time).
#
#   bench/extract.sh [path/to/zorvik]      (default: build/bin/zorvik)
#
# $ZORVIK_BENCH_DIR picks the disk for the archives (default: $TMPDIR or /tmp),
# $ZORVIK_BENCH_OUT the one extracted to (default: the same; /dev/shm extracts into memory; see
# extract_common.sh). Run it both ways: the gap on a disk is not the gap in memory.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/setup" --bench >/dev/null
zorvik=$(realpath "${1:-$here/../build/bin/zorvik}")
work=$(mktemp -d "${ZORVIK_BENCH_DIR:-${TMPDIR:-/tmp}}/zorvik-bench-XXXXXX")
source "$here/extract_common.sh"
trap 'rm -rf "$work" "$out"' EXIT
need 7zz zip python3 /usr/bin/time "$zorvik"

make_mixed_source "${ZORVIK_BENCH_MIB:-256}"
# lzma2-1t.7z is the same made by one thread: one LZMA2 stream a block, which no decoder can split
# between cores, so the second core is free to write while the first decodes.
(cd "$work/source" && 7zz a -bd -bso0 -t7z -m0=LZMA2 -mx1 "$work/lzma2.7z" . && 7zz a -bd -bso0 -t7z -m0=LZMA2 -mx1 -mmt1 "$work/lzma2-1t.7z" . &&
    7zz a -bd -bso0 -t7z -m0=Copy "$work/stored.7z" .)
rm -rf "$work/source"
make_small_files 20000
(cd "$work/small" && 7zz a -bd -bso0 -t7z "$work/small.7z" . && zip -qr "$work/small.zip" .)
rm -rf "$work/small"
echo "extracting into $out; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

printf '%-11s %-14s %9s %12s %9s\n' archive tool median "peak memory" "cpu"
for archive in lzma2.7z lzma2-1t.7z stored.7z small.7z small.zip; do
    compare "$archive" 7zz "7zz x -bd -bso0 -y $work/$archive -o$out" zorvik "$zorvik extract -q $work/$archive -o $out"
done
