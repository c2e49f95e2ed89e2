#!/bin/sh
# Writes the seed corpora of the fuzz targets into the folder given (default: seeds), one
# folder per target, from archives made here by the archivers our tests use. Sources are small,
# so that a run spends its time on the formats rather than on data.
#   archive_fuzzer:     a byte (extension index | 0x10 to give the password) + an archive
#   volumes_fuzzer:     a byte (naming | 0x04 to give the password) + volumes joined by a marker
#   destination_fuzzer: a byte (policy | 0x04: links as files) + entry lines
#   rar_reader_fuzzer:  a byte (read size; 0xff: whole reads) + an archive, a second volume
#                       after its marker
#   update_fuzzer:      a byte (extension index | change << 3 | 0x20 to give the password) +
#                       an archive of a format the engine writes
set -eu
out=$(realpath -m "${1:-seeds}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/archive_fuzzer" "$out/volumes_fuzzer" "$out/destination_fuzzer" "$out/rar_reader_fuzzer" "$out/update_fuzzer"
cd "$work"
mkdir -p src/sub/deeper src/empty
seq 1 300 > src/text.txt
head -c 2000 /dev/urandom > src/sub/noise.bin
cp src/text.txt src/sub/deeper/copy.txt
: > src/zero.txt
ln -s text.txt src/link
ln src/text.txt src/hard.txt

# Extension indexes of archive_fuzzer.cpp's table.
ext_index() {
    case $1 in
    7z) echo 1 ;; zip) echo 2 ;; rar) echo 3 ;; tar) echo 4 ;; gz) echo 5 ;; xz) echo 6 ;; bz2) echo 7 ;;
    iso) echo 8 ;; cab) echo 9 ;; arj) echo 10 ;; lzh) echo 11 ;; cpio) echo 12 ;; wim) echo 13 ;; zst) echo 14 ;;
    001) echo 15 ;; *) echo 0 ;;
    esac
}
# Extension indexes of update_fuzzer.cpp's table, for the formats the engine writes.
update_ext_index() {
    case $1 in
    7z) echo 1 ;; zip) echo 2 ;; tar) echo 3 ;; wim) echo 4 ;; gz) echo 5 ;; bz2) echo 6 ;; xz) echo 7 ;;
    esac
}
# archive_seed name file [password]: the file under its extension's index; for the formats the
# engine writes, also an update seed for each change (add, remove, rename, move).
archive_seed() {
    flags=$(ext_index "${2##*.}")
    [ $# -ge 3 ] && flags=$((flags | 16))
    { printf "\\$(printf %o "$flags")"; cat "$2"; } > "$out/archive_fuzzer/$1"
    # The same without its extension, found by its signature alone.
    { printf '\0'; cat "$2"; } > "$out/archive_fuzzer/$1-probed"
    index=$(update_ext_index "${2##*.}")
    [ -n "$index" ] || return 0
    for change in 0 1 2 3; do
        flags=$((index | change << 3 | change << 6))
        [ $# -ge 3 ] && flags=$((flags | 32))
        { printf "\\$(printf %o "$flags")"; cat "$2"; } > "$out/update_fuzzer/$1-$change"
    done
}
make_archive() { # name command...
    name=$1; shift
    rm -rf made && mkdir made
    "$@" >/dev/null 2>&1 || { echo "skipped $name: $1 failed" >&2; return 0; }
}

7zz a -bd -t7z -m0=lzma2 a.7z ./src >/dev/null && archive_seed 7z-lzma2 a.7z && rm a.7z
7zz a -bd -t7z -m0=lzma -ms=off a.7z ./src >/dev/null && archive_seed 7z-lzma a.7z && rm a.7z
7zz a -bd -t7z -m0=ppmd a.7z ./src >/dev/null && archive_seed 7z-ppmd a.7z && rm a.7z
7zz a -bd -t7z -m0=bzip2 a.7z ./src >/dev/null && archive_seed 7z-bzip2 a.7z && rm a.7z
7zz a -bd -t7z -m0=deflate a.7z ./src >/dev/null && archive_seed 7z-deflate a.7z && rm a.7z
7zz a -bd -t7z -m0=copy a.7z ./src >/dev/null && archive_seed 7z-copy a.7z && rm a.7z
7zz a -bd -t7z -m0=delta -m1=lzma2 a.7z ./src >/dev/null && archive_seed 7z-delta a.7z && rm a.7z
7zz a -bd -t7z -ppassword a.7z ./src >/dev/null && archive_seed 7z-password a.7z password && rm a.7z
7zz a -bd -t7z -ppassword -mhe=on a.7z ./src >/dev/null && archive_seed 7z-header-password a.7z password && rm a.7z
(cd src && zip -qry ../a.zip .) && archive_seed zip-deflate a.zip && rm a.zip
(cd src && zip -qry0 ../a.zip .) && archive_seed zip-stored a.zip && rm a.zip
(cd src && zip -qr -Z bzip2 ../a.zip .) && archive_seed zip-bzip2 a.zip && rm a.zip
(cd src && zip -qr -P password ../a.zip .) && archive_seed zip-zipcrypto a.zip password && rm a.zip
7zz a -bd -tzip -mem=AES256 -ppassword a.zip ./src >/dev/null && archive_seed zip-aes a.zip password && rm a.zip
7zz a -bd -tzip -m0=lzma a.zip ./src >/dev/null && archive_seed zip-lzma a.zip && rm a.zip
rar a -idq -m3 a.rar src && archive_seed rar5 a.rar && rm a.rar
rar a -idq -m5 -s -ol a.rar src && archive_seed rar5-solid-links a.rar && rm a.rar
rar a -idq -ppassword a.rar src && archive_seed rar5-password a.rar password && rm a.rar
rar a -idq -hppassword a.rar src && archive_seed rar5-header-password a.rar password && rm a.rar
rar a -idq -ma4 -m3 a.rar src && archive_seed rar4 a.rar && rm a.rar
rar a -idq -ma4 -s -ppassword a.rar src && archive_seed rar4-solid-password a.rar password && rm a.rar
for format in ustar gnu pax; do
    tar -cf a.tar --format=$format src && archive_seed tar-$format a.tar && rm a.tar
done
tar -czf a.tar.gz src && archive_seed tar-gz a.tar.gz && rm a.tar.gz
tar -cJf a.tar.xz src && archive_seed tar-xz a.tar.xz && rm a.tar.xz
tar -cjf a.tar.bz2 src && archive_seed tar-bz2 a.tar.bz2 && rm a.tar.bz2
if command -v zstd >/dev/null; then tar -cf - src | zstd -q > a.tar.zst && archive_seed tar-zst a.tar.zst && rm a.tar.zst; fi
gzip -c src/text.txt > a.gz && archive_seed gz a.gz && rm a.gz
xz -c src/text.txt > a.xz && archive_seed xz a.xz && rm a.xz
xz -c --format=lzma src/text.txt > a.lzma && archive_seed lzma a.lzma && rm a.lzma
bzip2 -c src/text.txt > a.bz2 && archive_seed bz2 a.bz2 && rm a.bz2
7zz a -bd -twim a.wim ./src >/dev/null && archive_seed wim a.wim && rm a.wim
xorriso -as mkisofs -quiet -no-pad -R -J -o a.iso src 2>/dev/null && archive_seed iso a.iso && rm a.iso
for format in cpio ar xar; do
    (cd src && bsdtar -cf ../a.$format --format $format text.txt sub 2>/dev/null) && archive_seed $format a.$format && rm a.$format
done
# A zip inside a 7z, and a tar split in two volumes without its second one.
(cd src && zip -qr ../inner.zip .) && 7zz a -bd -t7z outer.7z inner.zip >/dev/null && archive_seed 7z-holding-zip outer.7z && rm outer.7z inner.zip
tar -cf a.tar src && split -b 2048 -d -a 3 --numeric-suffixes=1 a.tar a.tar. && archive_seed split-tar a.tar.001 && rm a.tar*

# volumes_fuzzer: naming 0 (v.7z.001), 1 (v.part1.rar), 2 (v.rar, v.r00), 3 (v.z01 ... v.zip).
marker=$(printf '\377VOLUME\377')
volume_seed() { # name flags volume...
    name=$1 flags=$2; shift 2
    {
        printf "\\$(printf %o "$flags")"
        first=1
        for volume in "$@"; do
            [ $first -eq 1 ] || printf '%s' "$marker"
            first=0
            cat "$volume"
        done
    } > "$out/volumes_fuzzer/$name"
}
7zz a -bd -t7z -v3k v.7z ./src >/dev/null && volume_seed 7z-split 0 v.7z.0* && rm v.7z.*
7zz a -bd -t7z -v3k -ppassword -mhe=on v.7z ./src >/dev/null && volume_seed 7z-split-password 4 v.7z.0* && rm v.7z.*
rar a -idq -m0 -v3k v.rar src && volume_seed rar5-parts 1 $(ls v.part*.rar | sort -V) && rm v.part*.rar
rar a -idq -m3 -hppassword -v3k v.rar src && volume_seed rar5-parts-password 5 $(ls v.part*.rar | sort -V) && rm v.part*.rar
rar a -idq -ma4 -vn -m0 -v3k v.rar src && volume_seed rar4-old-names 2 v.rar $(ls v.r[0-9]* | sort) && rm v.r*
(cd src && zip -qr -s 64k ../v.zip . ) && volume_seed zip-single 3 v.zip && rm v.z*
head -c 150000 /dev/urandom > src/sub/large.bin
(cd src && zip -qr0 -s 64k ../v.zip . ) && volume_seed zip-spanned 3 $(ls v.z[0-9]* | sort) v.zip && rm v.z*
7zz a -bd -tzip -v40k v.zip ./src >/dev/null && volume_seed zip-split 0 v.zip.0* && rm v.zip.*
rm src/sub/large.bin

# destination_fuzzer: entries as an extraction gives them; policies 0 fail, 1 overwrite, 2 skip.
dest_seed() { # name flags lines
    { printf "\\$(printf %o "$2")"; printf '%b' "$3"; } > "$out/destination_fuzzer/$1"
}
dest_seed files 0 'dtop\nftop\\\\a.txt\nftop\\\\sub\\\\b.txt\nftop\\\\a.txt\n'
dest_seed links 1 'fa.txt\nslink\ta.txt\nhhard\ta.txt\nsdir\\\\rel\t../a.txt\n'
dest_seed escapes 0 'f..\\\\x\nfup\\\\x\nfabsolute\\\\x\nsout\t../outside/victim\nsabs\t/tmp\nhh\tup\\\\victim\nffolder\\\\victim\n'
dest_seed chains 2 'sa\tb\nsb\tc\nsc\t..\nfa\\\\x\nsd\td/../..\nse\tfolder/victim\n'
dest_seed as-files 5 'fa\nsl\t../../etc/passwd\nhh\ta\nsm\tl\n'

# rar_reader_fuzzer: the reader alone, whole and short reads.
rar_seed() {
    name=$1; shift
    rm -f r*.rar
    rar a -idq "$@" r.rar src >/dev/null
    if [ -f r.part1.rar ]; then
        { printf '\377'; cat r.part1.rar; printf '\377VOLUME2\377'; cat r.part2.rar; } > "$out/rar_reader_fuzzer/$name"
    else
        { printf '\377'; cat r.rar; } > "$out/rar_reader_fuzzer/$name"
    fi
}
rar_seed stored -m0
rar_seed fast -m1
rar_seed best -m5
rar_seed solid -m3 -s -htb
rar_seed copies -m3 -oi
rar_seed data-password -m3 -ppassword
rar_seed header-password -m3 -s -hppassword
rar_seed volumes -m0 -v4k
{ printf '\003'; tail -c +2 "$out/rar_reader_fuzzer/fast"; } > "$out/rar_reader_fuzzer/fast-short-reads"
rm -f r*.rar
for target in archive_fuzzer volumes_fuzzer destination_fuzzer rar_reader_fuzzer update_fuzzer; do
    echo "$target: $(ls "$out/$target" | wc -l) seeds"
done
