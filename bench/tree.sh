#!/usr/bin/env bash
# Listing a zip of 10,000 and of 100,000 tiny files: `7zz l` against bench_tree, which opens the
# zip and builds its item tree through the component. Medians come from hyperfine, peak memory
# from /usr/bin/time -v (median of three runs).
#
#   bench/tree.sh [path/to/bench_tree]      (default: build/bin/bench_tree)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench_tree=$(realpath "${1:-$here/../build/bin/bench_tree}")
for tool in 7zz hyperfine zip zipinfo /usr/bin/time "$bench_tree"; do
    command -v "$tool" >/dev/null || { echo "tree.sh: $tool is missing" >&2; exit 1; }
done
# Memory-backed when the machine has it: writing 100,000 small files to disk takes minutes.
scratch=${TMPDIR:-/tmp}
[[ -d /dev/shm && -w /dev/shm ]] && scratch=/dev/shm
work=$(mktemp -d "$scratch/zorvik-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# count tiny files in 100 folders of 10 sub-folders each, zipped with their folder entries.
make_zip() {
    local count=$1 source="$work/source$1"
    mkdir -p "$source"
    (
        cd "$source"
        for ((i = 0; i < count; i++)); do
            folder="d$((i % 100))/s$((i / 100 % 10))"
            [[ -d $folder ]] || mkdir -p "$folder"
            printf '%d\n' "$i" >"$folder/f$i.txt"
        done
        zip -q -r "$work/files$count.zip" .
    )
    rm -rf "$source"
}

# Peak resident set in KiB, the median of three runs.
peak_kib() {
    for _ in 1 2 3; do
        /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
    done | sort -n | sed -n 2p
}

# Median seconds of both commands, one line each, in the order given.
medians() {
    hyperfine -N --style none --warmup 2 --min-runs 10 --export-csv "$work/times.csv" "$@" >/dev/null
    awk -F, 'NR > 1 { print $4 }' "$work/times.csv"
}

printf '%-8s %-10s %10s %12s %14s\n' entries tool median "peak memory" "per entry"
declare -A per_entry
for count in 10000 100000; do
    make_zip "$count"
    zip_file="$work/files$count.zip"
    entries=$(zipinfo -1 "$zip_file" | wc -l)
    mapfile -t times < <(medians "7zz l $zip_file" "$bench_tree $zip_file")
    peak_7zz=$(peak_kib 7zz l "$zip_file")
    peak_ours=$(peak_kib "$bench_tree" "$zip_file")
    for tool in 7zz bench_tree; do
        if [[ $tool == 7zz ]]; then seconds=${times[0]} peak=$peak_7zz; else seconds=${times[1]} peak=$peak_ours; fi
        per_entry[$tool$count]=$(awk -v s="$seconds" -v n="$entries" 'BEGIN { printf "%.2f", s * 1e6 / n }')
        printf '%-8s %-10s %9.3fs %9.1f MiB %11s us\n' "$entries" "$tool" "$seconds" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" \
            "${per_entry[$tool$count]}"
    done
    awk -v a="${times[1]}" -v b="${times[0]}" -v m="$peak_ours" -v n="$peak_7zz" \
        'BEGIN { printf "         ratio      time %.2fx   memory %.2fx\n", a / b, m / n }'
done
for tool in 7zz bench_tree; do
    awk -v t="$tool" -v a="${per_entry[${tool}10000]}" -v b="${per_entry[${tool}100000]}" \
        'BEGIN { printf "per-entry cost of %s at 100k over 10k: %.2fx\n", t, b / a }'
done
