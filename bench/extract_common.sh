# Shared by the extraction benchmarks (sourced): the mixed data set, and one side-by-side
# comparison of a peer's extraction command with bench_extract on the same archive.
#
# Expects: $work (scratch folder, removed by the caller) and $bench_extract. Sets $out, the
# folder both tools extract into: $work/out, or a folder below $ZORVIK_BENCH_OUT when that is
# set. A memory-backed one (/dev/shm) takes the disk's own noise out of the comparison: on ext4
# a folder emptied just before a run slows file creation for a minute or more afterwards, as the
# file system avoids reusing the inodes it just freed.

out=$work/out
[[ -n ${ZORVIK_BENCH_OUT:-} ]] && out=$(mktemp -d "$ZORVIK_BENCH_OUT/zorvik-bench-out-XXXXXX")

# $2 MiB (default 256) of random bytes in four files, then this machine's own libraries and shared
# data (binaries, text, images) up to $1 MiB more, in $work/source.
make_mixed_source() {
    local source=$work/source budget=$(($1 << 20)) total=0 size path
    mkdir -p "$source/random"
    for i in 1 2 3 4; do head -c $((${2:-256} << 18)) /dev/urandom >"$source/random/r$i.bin"; done
    while IFS=$'\t' read -r size path; do
        ((total + size > budget)) && break
        cp --parents -- "$path" "$source/" 2>/dev/null && total=$((total + size))
    done < <(find /usr/lib /usr/share -xdev -type f -size -32M -printf '%s\t%p\n' | sort -k2)
    echo "source: $(du -sh --apparent-size "$source" | cut -f1), $(find "$source" -type f | wc -l) files"
}

# Peak resident set in KiB of a command, the median of three runs; $out is emptied before each.
peak_kib() {
    for _ in 1 2 3; do
        rm -rf "$out" && mkdir -p "$out"
        /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
    done | sort -n | sed -n 2p
}

# compare LABEL ARCHIVE PEER-NAME PEER-COMMAND...: hyperfine medians (the output folder emptied
# before every run) and peak memory of the peer's command and of bench_extract, extracting
# ARCHIVE into $out. The peer's command must end with its output folder argument, if any.
compare() {
    local label=$1 archive=$2 peer=$3
    shift 3
    hyperfine -N --style none --warmup 1 --min-runs 5 --prepare "sh -c 'rm -rf $out && mkdir -p $out'" \
        --export-csv "$work/times.csv" "$*" "$bench_extract $archive $out" >/dev/null
    local times
    mapfile -t times < <(awk -F, 'NR > 1 { print $4 }' "$work/times.csv")
    local peak_peer peak_ours
    peak_peer=$(peak_kib "$@")
    peak_ours=$(peak_kib "$bench_extract" "$archive" "$out")
    mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
    printf '%-8s %-14s %8.3fs %12s\n' "$label" "$peer" "${times[0]}" "$(mib "$peak_peer")"
    printf '%-8s %-14s %8.3fs %12s\n' "$label" bench_extract "${times[1]}" "$(mib "$peak_ours")"
    # Speed as the peer's time over ours: at least 1 means the component is at least as fast.
    awk -v a="${times[1]}" -v b="${times[0]}" -v m="$peak_ours" -v n="$peak_peer" -v p="$peer" \
        'BEGIN { printf "         speed %.2fx of %s   memory %.2fx of %s\n", b / a, p, m / n, p }'
}
