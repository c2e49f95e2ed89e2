#!/bin/sh
# Writes a small seed corpus for the RAR reader fuzzer into the folder given (default: seeds):
# archives made by rar with each kind of content the reader handles. Each seed is a byte that
# picks the read size (0xff: whole reads) followed by the archive.
set -eu
out=$(realpath -m "${1:-seeds}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/src/sub" "$work/src/empty"
cd "$work"
seq 1 400 > src/text.txt
head -c 3000 /dev/urandom > src/sub/noise.bin
cp src/sub/noise.bin src/copy.bin
: > src/zero.txt
seed() {
    name=$1; shift
    rm -f a*.rar
    rar a -idq "$@" a.rar src >/dev/null
    if [ -f a.part1.rar ]; then
        { printf '\377'; cat a.part1.rar; printf '\377VOLUME2\377'; cat a.part2.rar; } > "$out/$name"
    else
        { printf '\377'; cat a.rar; } > "$out/$name"
    fi
}
seed stored -m0
seed fast -m1
seed best -m5
seed solid -m3 -s -htb
seed copies -m3 -oi
seed data-password -m3 -ppassword
seed header-password -m3 -s -hppassword
seed volumes -m0 -v4k
{ printf '\003'; tail -c +2 "$out/fast"; } > "$out/fast-short-reads"
