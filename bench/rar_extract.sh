#!/usr/bin/env bash
# Extracting a 1 GiB RAR 5 archive (-m3, solid and not) to files: `unrar x` against
# bench_extract, which opens the archive and extracts every entry through the component (its
# in-process RAR reader, on the same decompression library). Both write to the same disk, in
# turn; medians of wall time and peak memory (/usr/bin/time).
#
#   bench/rar_extract.sh [path/to/bench_extract]      (default: build/bin/bench_extract)
#
# The data set is extract.sh's. $ZORVIK_BENCH_DIR picks the disk for the archives (default:
# $TMPDIR or /tmp), $ZORVIK_BENCH_OUT the one extracted to (default: the same; see
# extract_common.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/setup" --bench >/dev/null
bench_extract=$(realpath "${1:-$here/../build/bin/bench_extract}")
work=$(mktemp -d "${ZORVIK_BENCH_DIR:-${TMPDIR:-/tmp}}/zorvik-bench-XXXXXX")
source "$here/extract_common.sh"
trap 'rm -rf "$work" "$out"' EXIT
need rar unrar /usr/bin/time "$bench_extract"

make_mixed_source 1024
(cd "$work/source" && rar a -idq -m3 -r "$work/plain.rar" . && rar a -idq -m3 -s -r "$work/solid.rar" .)
rm -rf "$work/source"
echo "archives: plain $(du -h "$work/plain.rar" | cut -f1), solid $(du -h "$work/solid.rar" | cut -f1); $(nproc) cores"

printf '%-8s %-14s %9s %12s %9s\n' archive tool median "peak memory" "cpu"
for name in plain solid; do
    compare "$name" unrar "unrar x -idq -y $work/$name.rar $out/" bench_extract "$bench_extract $work/$name.rar $out"
done
