#!/usr/bin/env bash
# Makes sample.7z, the archive scripts/run shows the command line on: a folder "guide" holding a
# few text files, with fixed times so that the listing reads the same on every machine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/guide/notes"
cat >"$work/guide/README.txt" <<'TEXT'
Zorvik sample archive
=====================

This archive ships with the repository so that scripts/run has something to show:
zorvik lists it, extracts it into a temporary folder and tests it.
TEXT
cat >"$work/guide/notes/commands.txt" <<'TEXT'
zorvik formats              every format the archive engine reads
zorvik info ARCHIVE         format, sizes, file count, ratio
zorvik list ARCHIVE         the entries, as a table or as JSON
zorvik extract ARCHIVE      the entries, written below a folder
zorvik test ARCHIVE         every entry decoded and checked, nothing written
TEXT
cat >"$work/guide/notes/exit-codes.txt" <<'TEXT'
0 success; 1 failed; 2 usage; 3 not an archive; 4 password; 5 busy; 130 interrupted
TEXT

touch -d '2024-05-01 10:20:30 UTC' "$work/guide/README.txt"
touch -d '2024-05-02 08:00:00 UTC' "$work/guide/notes/commands.txt" "$work/guide/notes/exit-codes.txt"
touch -d '2024-05-02 08:00:00 UTC' "$work/guide/notes"
touch -d '2024-05-03 09:15:00 UTC' "$work/guide"

rm -f "$here/sample.7z"
(cd "$work" && 7z a -bd -mx=9 "$here/sample.7z" guide >/dev/null)
echo "made $here/sample.7z"
