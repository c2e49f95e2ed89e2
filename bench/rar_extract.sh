#!/usr/bin/env bash
# Extracting a 1 GiB RAR 5 archive (-m3, solid and not) to files: `unrar x` against
# bench_extract, which opens the archive and extracts every entry through the component (its
# in-process RAR reader, on the same decompression library). Both write to the same disk;
# medians come from hyperfine, peak memory from /usr/bin/time -v (median of three runs).
#
#   bench/rar_extract.sh [path/to/bench_extract]      (default: build/bin/bench_extract)
#
# The data: 256 MiB of random bytes in four big files, 128 MiB of generated text in one file,
# and about 640 MiB of this machine's own libraries and shared data (binaries, text, images).
# $ZORVIK_BENCH_DIR picks the disk (default: $TMPDIR or /tmp).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench_extract=$(realpath "${1:-$here/../build/bin/bench_extract}")
for tool in rar unrar hyperfine /usr/bin/time "$bench_extract"; do
    command -v "$tool" >/dev/null || { echo "rar_extract.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d "${ZORVIK_BENCH_DIR:-${TMPDIR:-/tmp}}/zorvik-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

make_source() {
    local source=$work/source budget=$((640 << 20)) total=0 size path
    mkdir -p "$source/random" "$source/text"
    for i in 1 2 3 4; do head -c $((64 << 20)) /dev/urandom >"$source/random/r$i.bin"; done
    seq -f 'line %.0f of a generated text, with some words repeated now and then' 1 2000000 >"$source/text/lines.txt"
    truncate -s $((128 << 20)) "$source/text/lines.txt"
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
        mkdir -p "$out"
        /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
    done | sort -n | sed -n 2p
}

make_source
echo "source: $(du -sh --apparent-size "$work/source" | cut -f1), $(find "$work/source" -type f | wc -l) files"
(cd "$work/source" && rar a -idq -m3 -r "$work/plain.rar" . && rar a -idq -m3 -s -r "$work/solid.rar" .)
rm -rf "$work/source"
echo "archives: plain $(du -h "$work/plain.rar" | cut -f1), solid $(du -h "$work/solid.rar" | cut -f1); $(nproc) cores"

printf '%-8s %-14s %9s %12s\n' archive tool median "peak memory"
for name in plain solid; do
    archive=$work/$name.rar out=$work/out
    hyperfine -N --style none --warmup 1 --min-runs 5 --prepare "sh -c 'rm -rf $out && mkdir -p $out'" \
        --export-csv "$work/times.csv" "unrar x -idq -y $archive $out/" "$bench_extract $archive $out" >/dev/null
    mapfile -t times < <(awk -F, 'NR > 1 { print $4 }' "$work/times.csv")
    peak_unrar=$(peak_kib "$out" unrar x -idq -y "$archive" "$out/")
    peak_ours=$(peak_kib "$out" "$bench_extract" "$archive" "$out")
    mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
    printf '%-8s %-14s %8.3fs %12s\n' "$name" unrar "${times[0]}" "$(mib "$peak_unrar")"
    printf '%-8s %-14s %8.3fs %12s\n' "$name" bench_extract "${times[1]}" "$(mib "$peak_ours")"
    # Time as ours over unrar's: at most 1 means the component is at least as fast.
    awk -v a="${times[1]}" -v b="${times[0]}" -v m="$peak_ours" -v n="$peak_unrar" \
        'BEGIN { printf "         time %.2fx of unrar   memory %.2fx of unrar\n", a / b, m / n }'
done
