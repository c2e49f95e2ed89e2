#!/usr/bin/env bash
# Extracting a 1 GiB LZMA2 7z and a 1 GiB stored (Copy) 7z to files: `7zz x` against
# bench_extract, which opens the archive and extracts every entry through the component. Both
# write to the same disk; medians come from hyperfine, peak memory from /usr/bin/time -v
# (median of three runs).
#
#   bench/extract.sh [path/to/bench_extract]      (default: build/bin/bench_extract)
#
# The data is 256 MiB of random bytes in four files plus about 768 MiB of this machine's own
# libraries and shared data (binaries, text, images), so the mix is realistic rather than
# synthetic. $ZORVIK_BENCH_DIR picks the disk (default: $TMPDIR or /tmp).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench_extract=$(realpath "${1:-$here/../build/bin/bench_extract}")
for tool in 7zz hyperfine /usr/bin/time "$bench_extract"; do
    command -v "$tool" >/dev/null || { echo "extract.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d "${ZORVIK_BENCH_DIR:-${TMPDIR:-/tmp}}/zorvik-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

make_source() {
    local source=$work/source budget=$((768 << 20)) total=0 size path
    mkdir -p "$source/random"
    for i in 1 2 3 4; do head -c $((64 << 20)) /dev/urandom >"$source/random/r$i.bin"; done
    while IFS=$'\t' read -r size path; do
        ((total + size > budget)) && break
        cp --parents -- "$path" "$source/" 2>/dev/null && total=$((total + size))
    done < <(find /usr/lib /usr/share -xdev -type f -size -32M -printf '%s\t%p\n' | sort -k2)
}

# Peak resident set in KiB, the median of three runs; out is emptied before each.
peak_kib() {
    local out=$1
    shift
    for _ in 1 2 3; do
        rm -rf "$out"
        /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
    done | sort -n | sed -n 2p
}

make_source
echo "source: $(du -sh --apparent-size "$work/source" | cut -f1), $(find "$work/source" -type f | wc -l) files"
(cd "$work/source" && 7zz a -bd -bso0 -t7z -m0=LZMA2 -mx1 "$work/lzma2.7z" . && 7zz a -bd -bso0 -t7z -m0=Copy "$work/copy.7z" .)
rm -rf "$work/source"

printf '%-8s %-14s %9s %12s\n' archive tool median "peak memory"
for name in lzma2 copy; do
    archive=$work/$name.7z out=$work/out
    hyperfine -N --style none --warmup 1 --min-runs 5 --prepare "rm -rf $out" --export-csv "$work/times.csv" \
        "7zz x -bd -bso0 -y -o$out $archive" "$bench_extract $archive $out" >/dev/null
    mapfile -t times < <(awk -F, 'NR > 1 { print $4 }' "$work/times.csv")
    peak_7zz=$(peak_kib "$out" 7zz x -bd -bso0 -y "-o$out" "$archive")
    peak_ours=$(peak_kib "$out" "$bench_extract" "$archive" "$out")
    mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
    printf '%-8s %-14s %8.3fs %12s\n' "$name" 7zz "${times[0]}" "$(mib "$peak_7zz")"
    printf '%-8s %-14s %8.3fs %12s\n' "$name" bench_extract "${times[1]}" "$(mib "$peak_ours")"
    # Speed as 7zz's time over ours: above 1 means the component is faster.
    awk -v a="${times[1]}" -v b="${times[0]}" -v m="$peak_ours" -v n="$peak_7zz" \
        'BEGIN { printf "         speed %.2fx of 7zz   memory %.2fx of 7zz\n", b / a, m / n }'
done
