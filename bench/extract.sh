#!/usr/bin/env bash
# Extracting a 1 GiB LZMA2 7z and a 1 GiB stored (Copy) 7z to files: `7zz x` against
# bench_extract, which opens the archive and extracts every entry through the component. Both
# write to the same disk; medians come from hyperfine, peak memory from /usr/bin/time -v.
#
#   bench/extract.sh [path/to/bench_extract]      (default: build/bin/bench_extract)
#
# The data is 256 MiB of random bytes plus about 768 MiB of this machine's own libraries and
# shared data, so the mix is realistic rather than synthetic. $ZORVIK_BENCH_DIR picks the disk
# for the archives (default: $TMPDIR or /tmp), $ZORVIK_BENCH_OUT the one extracted to (default:
# the same; see extract_common.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench_extract=$(realpath "${1:-$here/../build/bin/bench_extract}")
for tool in 7zz hyperfine /usr/bin/time "$bench_extract"; do
    command -v "$tool" >/dev/null || { echo "extract.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d "${ZORVIK_BENCH_DIR:-${TMPDIR:-/tmp}}/zorvik-bench-XXXXXX")
source "$here/extract_common.sh"
trap 'rm -rf "$work" "$out"' EXIT

make_mixed_source 768
(cd "$work/source" && 7zz a -bd -bso0 -t7z -m0=LZMA2 -mx1 "$work/lzma2.7z" . && 7zz a -bd -bso0 -t7z -m0=Copy "$work/copy.7z" .)
rm -rf "$work/source"

printf '%-8s %-14s %9s %12s\n' archive tool median "peak memory"
for name in lzma2 copy; do
    compare "$name" "$work/$name.7z" 7zz 7zz x -bd -bso0 -y "$work/$name.7z" "-o$out"
done
