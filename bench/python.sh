#!/usr/bin/env bash
# The Python package against Python's other archive libraries, side by side on the same
# archives: extraction of a mixed data set of $ZORVIK_BENCH_MIB MiB (default 256) as 7z LZMA2
# (py7zr, libarchive-c), as zip deflate (zipfile) and as tar.gz (tarfile); listing a zip of
# 100,000 entries and read() of one 1 MiB entry of it after opening (zipfile); creating a zip,
# deflate level 6, of the same files (zipfile). Each run is a process of its own, the libraries
# in turn, round after round ($ZORVIK_BENCH_RUNS, default 3, after one untimed); medians of
# wall time, CPU time and peak memory, and speed as the other library's time over ours.
#
#   bench/python.sh [build folder]      (default: build; the package in build/python)
#
# $ZORVIK_BENCH_ONLY picks rows by words of their work, comma-separated ("tar.gz,list").
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/setup" --bench >/dev/null
build=$(realpath "${1:-$here/../build}")
python=/usr/bin/python3
export PYTHONPATH=$build/python
"$python" -c "import zorvik, py7zr, libarchive" || { echo "python.sh: zorvik (built), py7zr or libarchive-c is missing" >&2; exit 1; }
work=$(mktemp -d "${ZORVIK_BENCH_DIR:-${TMPDIR:-/tmp}}/zorvik-pybench-XXXXXX")
source "$here/extract_common.sh"
trap 'rm -rf "$work" "$out"' EXIT

make_mixed_source "${ZORVIK_BENCH_MIB:-256}"
(cd "$work/source" && 7zz a -bd -bso0 -t7z -m0=LZMA2 -mx1 "$work/mixed.7z" . && zip -qr -6 "$work/mixed.zip" . &&
    tar czf "$work/mixed.tar.gz" .)
"$python" - "$work/many.zip" <<'PYTHON'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    for i in range(100_000):
        archive.writestr(f"d{i % 100:02d}/s{i // 100 % 10}/f{i:06d}.txt", f"entry {i}\n" * (i % 7 + 1))
    archive.writestr("big/one-mib.bin", os.urandom(1 << 19) * 2)
PYTHON
"$python" "$here/python_bench.py" compare "$work"
