# Shared by the benchmarks (sourced): the check for their tools, the data sets, commands run in
# turn with their medians, and one side-by-side comparison of a peer's extraction command with ours on the same archive.
#
# Takes $work (scratch folder, removed by the caller), or makes one when there is none: in memory
# (/dev/shm) where the machine has it, else in $TMPDIR or /tmp, removed at exit. Sets $runs, the record of timed runs
# ($work/runs), and $out, the folder both tools extract into: $work/out, or a folder below
# $ZORVIK_BENCH_OUT when that is set. A memory-backed one (/dev/shm) takes the disk's own noise
# out of the comparison: on ext4 a folder emptied just before a run slows file creation for a
# minute or more afterwards, as the file system avoids reusing the inodes it just freed.

if [[ -z ${work:-} ]]; then
    scratch=${TMPDIR:-/tmp}
    [[ -d /dev/shm && -w /dev/shm ]] && scratch=/dev/shm
    work=$(mktemp -d "$scratch/zorvik-bench-XXXXXX")
    trap 'rm -rf "$work"' EXIT
fi
out=$work/out
runs=$work/runs
[[ -n ${ZORVIK_BENCH_OUT:-} ]] && out=$(mktemp -d "$ZORVIK_BENCH_OUT/zorvik-bench-out-XXXXXX")

# need TOOL...: ends the benchmark, naming the first tool (or program of ours) that is missing.
need() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null || { echo "$(basename "$0"): $tool is missing" >&2; exit 1; }
    done
}

# make_empty_files COUNT FOLDER: 500 folders in FOLDER and COUNT - 500 empty files spread over
# them, the listing benchmarks' archive content.
make_empty_files() {
    python3 - "$1" "$2" <<'PYTHON'
import os, sys
count, top = int(sys.argv[1]), sys.argv[2]
for folder in range(500):
    os.makedirs(os.path.join(top, f"folder{folder:03d}"))
for i in range(count - 500):
    os.close(os.open(os.path.join(top, f"folder{i % 500:03d}", f"file{i:07d}.txt"), os.O_CREAT | os.O_WRONLY, 0o644))
PYTHON
}

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

# alternate PREPARE COMMAND...: runs the commands in turn, each after PREPARE, round after round
# ($ZORVIK_BENCH_WARMUP untimed rounds, default 1, then $ZORVIK_BENCH_RUNS, default 5), so that a
# machine whose speed drifts slows them alike. Each timed run adds "INDEX SECONDS PEAK-KIB
# CPU-SECONDS" (user and system) to $runs.
alternate() {
    local prepare=$1 warmup=${ZORVIK_BENCH_WARMUP:-1} round i start
    shift
    : >"$runs"
    for ((round = 0; round < warmup + ${ZORVIK_BENCH_RUNS:-5}; round++)); do
        for ((i = 1; i <= $#; i++)); do
            sh -c "$prepare"
            start=$EPOCHREALTIME
            /usr/bin/time -f '%M %U %S' -o "$runs.peak" sh -c "${!i}" >/dev/null
            ((round < warmup)) || echo "$((i - 1)) $(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }') $(awk '{ print $1, $2 + $3 }' "$runs.peak")" >>"$runs"
        done
    done
    rm -f "$runs.peak"
}

# median INDEX FIELD: the median over the last alternate of one command's seconds (field 2),
# peak resident set in KiB (field 3) or CPU seconds (field 4).
median() {
    awk -v i="$1" -v f="$2" '$1 == i { print $f }' "$runs" | sort -g | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }'
}

# compare LABEL PEER PEER-COMMAND OURS OUR-COMMAND: medians of time and peak memory of both
# commands, alternating, each extracting into a fresh $out.
compare() {
    local label=$1 peer=$2 peer_command=$3 ours=$4 our_command=$5
    alternate "rm -rf $out && mkdir -p $out" "$peer_command" "$our_command"
    mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
    printf '%-11s %-14s %8.3fs %12s %8.2fs\n' "$label" "$peer" "$(median 0 2)" "$(mib "$(median 0 3)")" "$(median 0 4)"
    printf '%-11s %-14s %8.3fs %12s %8.2fs\n' "$label" "$ours" "$(median 1 2)" "$(mib "$(median 1 3)")" "$(median 1 4)"
    # Speed as the peer's time over ours: at least 1 means ours is at least as fast.
    awk -v a="$(median 1 2)" -v b="$(median 0 2)" -v m="$(median 1 3)" -v n="$(median 0 3)" -v p="$peer" \
        'BEGIN { printf "            speed %.2fx of %s   memory %.2fx of %s\n", b / a, p, m / n, p }'
}
