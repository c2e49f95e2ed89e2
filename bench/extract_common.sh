# Shared by the extraction benchmarks (sourced): the data sets, and one side-by-side comparison
# of a peer's extraction command with ours on the same archive.
#
# Expects: $work (scratch folder, removed by the caller). Sets $out, the folder both tools
# extract into: $work/out, or a folder below $ZORVIK_BENCH_OUT when that is set. A
# memory-backed one (/dev/shm) takes the disk's own noise out of the comparison: on ext4 a
# folder emptied just before a run slows file creation for a minute or more afterwards, as the
# file system avoids reusing the inodes it just freed.

out=$work/out
[[ -n ${ZORVIK_BENCH_OUT:-} ]] && out=$(mktemp -d "$ZORVIK_BENCH_OUT/zorvik-bench-out-XXXXXX")

# $1 MiB in $work/source: a quarter random bytes in four files, the rest this machine's own
# libraries and shared data (binaries, text, images), so the mix of sizes is realistic.
make_mixed_source() {
    local source=$work/source budget=$(($1 << 20)) total=0 size path quarter=$(($1 << 18))
    mkdir -p "$source/random"
    for i in 1 2 3 4; do head -c $((quarter / 4)) /dev/urandom >"$source/random/r$i.bin"; done
    total=$quarter
    while IFS=$'\t' read -r size path; do
        ((total + size > budget)) && break
        cp --parents -- "$path" "$source/" 2>/dev/null && total=$((total + size))
    done < <(find /usr/lib /usr/share -xdev -type f -size -32M -printf '%s\t%p\n' | sort -k2)
    echo "source: $(du -sh --apparent-size "$source" | cut -f1), $(find "$source" -type f | wc -l) files"
}

# $1 text files of 1 to 4 KiB in 100 folders of 10 sub-folders each, in $work/small.
make_small_files() {
    python3 - "$1" "$work/small" <<'PYTHON'
import os, random, sys
count, top = int(sys.argv[1]), sys.argv[2]
random.seed(1)
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(2, 9))) for _ in range(5000)]
for i in range(count):
    folder = os.path.join(top, f"d{i % 100:02d}", f"s{i // 100 % 10}")
    os.makedirs(folder, exist_ok=True)
    size, text = random.randint(1024, 4096), []
    while sum(map(len, text)) + len(text) < size:
        text.append(random.choice(words))
    with open(os.path.join(folder, f"f{i:05d}.txt"), "w") as file:
        file.write(" ".join(text)[:size])
PYTHON
}

# Peak resident set in KiB of a shell command, the median of three runs; $out is emptied before each.
peak_kib() {
    for _ in 1 2 3; do
        rm -rf "$out" && mkdir -p "$out"
        /usr/bin/time -v sh -c "exec $1" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
    done | sort -n | sed -n 2p
}

# compare LABEL PEER PEER-COMMAND OURS OUR-COMMAND: hyperfine medians (a fresh output folder
# before every run of either) and peak memory of both commands, each extracting into $out.
compare() {
    local label=$1 peer=$2 peer_command=$3 ours=$4 our_command=$5
    hyperfine -N --style none --warmup 1 --min-runs 5 --prepare "sh -c 'rm -rf $out && mkdir -p $out'" \
        --export-csv "$work/times.csv" "$peer_command" "$our_command" >/dev/null
    local times
    mapfile -t times < <(awk -F, 'NR > 1 { print $4 }' "$work/times.csv")
    local peak_peer peak_ours
    peak_peer=$(peak_kib "$peer_command")
    peak_ours=$(peak_kib "$our_command")
    mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
    printf '%-10s %-14s %8.3fs %12s\n' "$label" "$peer" "${times[0]}" "$(mib "$peak_peer")"
    printf '%-10s %-14s %8.3fs %12s\n' "$label" "$ours" "${times[1]}" "$(mib "$peak_ours")"
    # Speed as the peer's time over ours: at least 1 means ours is at least as fast.
    awk -v a="${times[1]}" -v b="${times[0]}" -v m="$peak_ours" -v n="$peak_peer" -v p="$peer" \
        'BEGIN { printf "           speed %.2fx of %s   memory %.2fx of %s\n", b / a, p, m / n, p }'
}
