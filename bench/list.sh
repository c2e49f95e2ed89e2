#!/usr/bin/env bash
# Listing against `7zz l`, side by side on the same archives: `zorvik list` and `zorvik list --json`
# (and bench_tree, which only opens the archive and builds its item tree through the component)
# on a zip and a 7z of 100,000 and of 1,000,000 entries (empty files in 500 folders, stored).
# The commands run in turn; medians of wall time and peak memory (/usr/bin/time).
#
#   bench/list.sh [path/to/build/bin]      (default: build/bin)
#
# $ZORVIK_BENCH_COUNTS overrides the entry counts (default "100000 1000000").
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/setup" --bench >/dev/null
bin=$(realpath "${1:-$here/../build/bin}")
# A scratch folder in memory when the machine has it: a million files take minutes to create on a
# disk.
source "$here/extract_common.sh"
need 7zz zip python3 /usr/bin/time "$bin/zorvik" "$bin/bench_tree"

# $1 entries as a zip and a 7z.
make_archives() {
    make_empty_files "$1" "$work/source"
    (cd "$work/source" && zip -qr -0 "$work/$1.zip" . && 7zz a -bd -bso0 -t7z -mx0 "$work/$1.7z" .)
    rm -rf "$work/source"
}

echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-14s %-18s %9s %9s %12s %8s %11s\n' archive command median speed "peak memory" memory "per entry"
declare -A per_entry
counts=(${ZORVIK_BENCH_COUNTS:-100000 1000000})
for count in "${counts[@]}"; do
    make_archives "$count"
    for format in zip 7z; do
        archive=$work/$count.$format
        commands=("7zz l $archive" "$bin/zorvik list $archive" "$bin/zorvik list --json $archive" "$bin/bench_tree $archive")
        labels=("7zz l" "zorvik list" "zorvik list --json" "bench_tree")
        alternate true "${commands[@]}"
        for i in "${!commands[@]}"; do
            per_entry[$format${labels[$i]}$count]=$(awk -v s="$(median "$i" 2)" -v n="$count" 'BEGIN { printf "%.2f", s * 1e6 / n }')
            # Speed as 7zz's time over this command's, memory as this command's peak over 7zz's.
            awk -v a="$count.$format" -v l="${labels[$i]}" -v s="$(median "$i" 2)" -v p="$(median 0 2)" -v m="$(median "$i" 3)" -v n="$(median 0 3)" \
                -v e="${per_entry[$format${labels[$i]}$count]}" \
                'BEGIN { printf "%-14s %-18s %8.3fs %8.2fx %8.1f MiB %7.2fx %8s us\n", a, l, s, p / s, m / 1024, m / n, e }'
        done
    done
    rm -f "$work/$count.zip" "$work/$count.7z"
done
if ((${#counts[@]} == 2)); then
    for format in zip 7z; do
        for label in "7zz l" "zorvik list" "zorvik list --json"; do
            awk -v f="$format" -v l="$label" -v a="${per_entry[$format$label${counts[0]}]}" -v b="${per_entry[$format$label${counts[1]}]}" \
                'BEGIN { printf "per-entry cost of %s (%s) at %s over %s: %.2fx\n", l, f, "'"${counts[1]}"'", "'"${counts[0]}"'", b / a }'
        done
    done
fi
