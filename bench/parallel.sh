#!/usr/bin/env bash
# Extraction on several threads against `7zz x` (and `7zz t`), and `zorvik --threads 1` against
# another build of zorvik (today's, say), side by side on the same archives: extract.sh's mixed
# data set of $ZORVIK_BENCH_MIB MiB (default 256) as zip (deflate), as non-solid 7z LZMA and as 7z
# LZMA2 made by `7zz a` (its blocks), and 20,000 small files as zip. The tools run in turn, into a
# fresh folder each time; medians of wall time, peak memory and CPU time (user and system).
#
#   bench/parallel.sh [path/to/zorvik [path/to/other/zorvik]]   (default: build/bin/zorvik; no other)
#
# $ZORVIK_BENCH_DIR and $ZORVIK_BENCH_OUT as for extract.sh: run it into /dev/shm and onto a disk.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/setup" --bench >/dev/null
zorvik=$(realpath "${1:-$here/../build/bin/zorvik}")
other=${2:+$(realpath "$2")}
work=$(mktemp -d "${ZORVIK_BENCH_DIR:-${TMPDIR:-/tmp}}/zorvik-bench-XXXXXX")
source "$here/extract_common.sh"
trap 'rm -rf "$work" "$out"' EXIT
need 7zz zip python3 /usr/bin/time "$zorvik" ${other:+"$other"}

make_mixed_source "${ZORVIK_BENCH_MIB:-256}"
(cd "$work/source" && zip -qr "$work/mixed.zip" . && 7zz a -bd -bso0 -t7z -ms=off -m0=LZMA "$work/plain.7z" . &&
    7zz a -bd -bso0 -t7z "$work/lzma2.7z" .)
rm -rf "$work/source"
make_small_files 20000
(cd "$work/small" && zip -qr "$work/small.zip" .)
rm -rf "$work/small"
echo "extracting into $out; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

printf '%-11s %-14s %9s %12s %9s\n' archive tool median "peak memory" "cpu"
for archive in mixed.zip plain.7z lzma2.7z small.zip; do
    compare "$archive" 7zz "7zz x -bd -bso0 -y $work/$archive -o$out" zorvik "$zorvik extract -q $work/$archive -o $out"
done
compare "test zip" "7zz t" "7zz t -bd -bso0 $work/mixed.zip" "zorvik test" "$zorvik test -q $work/mixed.zip"
if [[ -n $other ]]; then
    for archive in mixed.zip plain.7z lzma2.7z small.zip; do
        compare "$archive" "other -t1" "$other extract -q $work/$archive -o $out" "zorvik -t1" "$zorvik extract -q --threads 1 $work/$archive -o $out"
    done
fi
echo "load afterwards $(cut -d' ' -f1-3 /proc/loadavg)"
