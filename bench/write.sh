#!/usr/bin/env bash
# Writing 7z archives: `zorvik create` of a 256 MiB mixed payload (LZMA2, level 5, solid, both
# with the engine's default thread count) against `7zz a`; and renaming one entry of a 1 GiB
# non-solid 7z, adding one small file to it, and removing one entry of a 1 GiB solid 7z, against
# `7zz rn`, `7zz a` and `7zz d`. The tools run in turn, the archive copied afresh before every
# run; medians of wall time and peak memory (/usr/bin/time).
#
#   bench/write.sh [path/to/zorvik]      (default: build/bin/zorvik)
#
# ZORVIK_BENCH_RUNS (default 5) timed runs of each command after ZORVIK_BENCH_WARMUP (default 1)
# untimed ones.
#
# The inputs (extract.sh's mixed data: random bytes and this machine's own libraries and shared
# data) take a while to make; they are made once in $ZORVIK_BENCH_DATA (default
# /var/tmp/zorvik-bench-write) and reused. The archives are written in $ZORVIK_BENCH_OUT (default:
# a folder below the data); a memory-backed one (/dev/shm) takes the disk out of the comparison.
# zorvik syncs every archive it writes before it replaces the old one; 7zz does not.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/setup" --bench >/dev/null
zorvik=$(realpath "${1:-$here/../build/bin/zorvik}")
data=${ZORVIK_BENCH_DATA:-/var/tmp/zorvik-bench-write}
mkdir -p "$data"
work=$data
source "$here/extract_common.sh"
need 7zz /usr/bin/time "$zorvik"
out=$(mktemp -d "${ZORVIK_BENCH_OUT:-$data}/zorvik-bench-out-XXXXXX")
trap 'rm -rf "$out"' EXIT
runs=$out/runs
if [[ ! -f $data/solid.7z ]]; then
    rm -rf "$data/source" && make_mixed_source 1024
    (cd "$data/source" && 7zz a -bd -bso0 -mx1 -ms=off "$data/nonsolid.7z" . && 7zz a -bd -bso0 "$data/solid.7z" .)
    rm -rf "$data/source"
fi
if [[ ! -d $data/payload ]]; then
    work=$out && make_mixed_source 256 && mv "$out/source" "$data/payload"
fi
head -c 4096 /dev/urandom >"$out/small.bin"
# An entry in the middle of each archive.
middle() { 7zz l -ba -slt "$1" | awk '/^Path = / { path = substr($0, 8) } /^Folder = -|^Attributes = [^D]/ { print path }' | awk '{ a[NR] = $0 } END { print a[int(NR / 2)] }'; }
renamed=$(middle "$data/nonsolid.7z")
removed=$(middle "$data/solid.7z")
echo "payload $(du -sh --apparent-size "$data/payload" | cut -f1); nonsolid.7z $(du -h "$data/nonsolid.7z" | cut -f1), solid.7z $(du -h "$data/solid.7z" | cut -f1); $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"

# compare LABEL PREPARE PEER-COMMAND OUR-COMMAND [REFERENCE-COMMAND]: medians of time and peak
# memory, the commands run in turn, each after PREPARE; the reference (copying the archive, say)
# is timed beside them.
compare() {
    local label=$1 prepare=$2
    shift 2
    alternate "$prepare" "$@"
    (($# < 3)) || printf '%-8s %s: %.3fs\n' "" "$3" "$(median 2 2)"
    awk -v l="$label" -v b="$(median 0 2)" -v a="$(median 1 2)" -v n="$(median 0 3)" -v m="$(median 1 3)" 'BEGIN {
        printf "%-8s 7zz %8.3fs %9.1f MiB   zorvik %8.3fs %9.1f MiB   speed %.2fx   memory %.2fx\n", l, b, n / 1024, a, m / 1024, b / a, m / n }'
}

printf '%-8s %s\n' "" "medians; speed is 7zz's time over zorvik's (at least 1: zorvik is as fast), memory zorvik's over 7zz's"
compare create "rm -f $out/new.7z" \
    "cd $data/payload && 7zz a -bd -bso0 -t7z -m0=LZMA2 -mx5 -ms=on $out/new.7z ." \
    "cd $data/payload && $zorvik create -q $out/new.7z --method LZMA2 --level 5 --solid ."
compare rename "cp $data/nonsolid.7z $out/work.7z" \
    "7zz rn -bd -bso0 $out/work.7z '$renamed' '$renamed.renamed'" \
    "$zorvik rename -q $out/work.7z '$renamed' '$(basename "$renamed").renamed'" \
    "cp $out/work.7z $out/copy.7z"
compare add "cp $data/nonsolid.7z $out/work.7z" \
    "cd $out && 7zz a -bd -bso0 work.7z small.bin" \
    "cd $out && $zorvik add -q work.7z small.bin"
compare remove "cp $data/solid.7z $out/work.7z" \
    "7zz d -bd -bso0 $out/work.7z '$removed'" \
    "$zorvik remove -q $out/work.7z '$removed'"
