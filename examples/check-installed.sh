#!/usr/bin/env bash
# Installs a build into a scratch prefix, then builds the examples against that prefix alone
# (with find_package and with pkg-config, -Wall -Wextra -Wpedantic -Werror) and runs them, and
# the installed tool, on the sample archive and on archives they make, named in UTF-8 and run in
# the C locale, with no LD_LIBRARY_PATH. Also checks what the installed libraries export and
# that their run paths are relative.
#   examples/check-installed.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A copy of its own: an extraction takes the archive's lock, and other tests read the sample too.
sample=$scratch/sample.7z
cp "$here/../samples/sample.7z" "$sample"
prefix=$scratch/prefix
unset LD_LIBRARY_PATH ZORVIK_ENGINE
export LC_ALL=C
examples="list-archive read-entry create-archives edit-archive extract-archive"

fail() {
  echo "check-installed: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name zorvik.pc)
[ -f "$(dirname "$pc")/zorvik-files.pc" ] || fail "no zorvik-files.pc installed"
[ -f "$prefix/include/zorvik/Zorvik.h" ] && [ -f "$prefix/include/zorvik/files/Files.h" ] || fail "the projection's headers are not installed"
libdir=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable=libdir zorvik)

exports() { nm -D --defined-only "$1" | awk '{ print $3 }' | c++filt | sort; }
component_exports=$(exports "$libdir/libZorvik.UWP.so" | tr '\n' ' ')
[ "$component_exports" = "DllCanUnloadNow DllGetActivationFactory " ] || fail "libZorvik.UWP.so exports $component_exports"
stray=$(exports "$libdir/libzorvik-runtime.so" | grep -v -e '^zorvik_' -e '^zorvik::rt::' || true)
[ -z "$stray" ] || fail "libzorvik-runtime.so exports $stray"
for file in "$prefix"/bin/* "$libdir"/*.so.* "$libdir"/zorvik/*.so; do
  # shellcheck disable=SC2016 # a literal $ORIGIN
  if readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -v '\[\$ORIGIN'; then fail "$file: run path not relative"; fi
done

cmake -S "$here" -B "$scratch/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/with-cmake" >/dev/null
mkdir "$scratch/with-pkg-config"
for example in $examples; do
  # shellcheck disable=SC2046 # the flags are words
  c++ -std=c++20 -Wall -Wextra -Wpedantic -Werror -o "$scratch/with-pkg-config/$example" "$here/$example.cpp" \
    $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs zorvik-files) -Wl,-rpath,"$libdir"
done

"$prefix/bin/zorvik" list "$sample" | grep -q 'guide/README.txt' || fail "the installed zorvik does not list the sample"
# A tree with a name that is no ASCII, for the archives the examples make.
tree=$scratch/tree
mkdir -p "$tree/docs" "$tree/$(printf 'd\xc3\xa4ta')"
printf 'read me\n' >"$tree/docs/readme.txt"
printf 'umlaut\n' >"$tree/$(printf 'd\xc3\xa4ta')/$(printf '\xc3\xb6').txt"
printf 'added\n' >"$scratch/added.txt"
umlaut=$(printf 'd\xc3\xa4ta/\xc3\xb6.txt')

for built in with-cmake with-pkg-config; do
  bin=$scratch/$built
  "$bin/list-archive" "$sample" | grep -q ' guide/notes/exit-codes.txt$' || fail "$built: list-archive"
  "$bin/extract-archive" "$sample" "$bin/out" 2>/dev/null | grep -q '^3 files extracted' || fail "$built: extract-archive"
  "$prefix/bin/zorvik" test "$sample" -q
  # One at a time: a second reader of the archive would find it locked.
  "$prefix/bin/zorvik" extract "$sample" guide/README.txt -O -q >"$bin/README.zorvik"
  "$bin/read-entry" "$sample" guide/README.txt >"$bin/README.read" || fail "$built: read-entry"
  cmp -s "$bin/out/guide/README.txt" "$bin/README.zorvik" || fail "$built: extracted data differs"
  cmp -s "$bin/README.read" "$bin/README.zorvik" || fail "$built: read-entry"

  made=$bin/$(printf '\xc3\xa4')
  "$bin/create-archives" "$tree" "$made" secret >/dev/null || fail "$built: create-archives"
  ZORVIK_PASSWORD=secret "$prefix/bin/zorvik" test "$made.zip" -q || fail "$built: the AES-256 zip does not test"
  "$prefix/bin/zorvik" test "$made.7z" -q || fail "$built: the 7z does not test"
  "$bin/list-archive" "$made.7z" | grep -qF " tree/$umlaut" || fail "$built: list-archive on a non-ASCII name"
  "$bin/list-archive" "$made.zip" | grep -qF "* tree/$umlaut" || fail "$built: list-archive does not mark encryption"
  [ "$("$bin/read-entry" "$made.zip" "tree/$umlaut" secret)" = umlaut ] || fail "$built: read-entry with a password"
  "$bin/extract-archive" "$made.7z" "$bin/made" >/dev/null 2>&1 || fail "$built: extract-archive on a non-ASCII name"
  cmp -s "$bin/made/tree/$umlaut" "$tree/$umlaut" || fail "$built: extracted non-ASCII entry differs"

  cp "$made.7z" "$bin/edited.7z"
  if edited=$("$bin/edit-archive" "$bin/edited.7z" "$scratch/added.txt" tree/docs tree/docs/readme.txt README 2>&1); then
    [ "$("$bin/read-entry" "$bin/edited.7z" tree/docs/added.txt)" = added ] || fail "$built: edit-archive did not add"
    [ "$("$bin/read-entry" "$bin/edited.7z" tree/docs/README)" = "read me" ] || fail "$built: edit-archive did not rename"
  elif grep -q 'not offered by this version' <<<"$edited"; then
    echo "check-installed: edit-archive skipped: the component does not offer IArchiveEdit yet"
    cmp -s "$made.7z" "$bin/edited.7z" || fail "$built: a failed edit changed the archive"
  else
    fail "$built: edit-archive: $edited"
  fi
  # shellcheck disable=SC2012 # names of our own
  [ -z "$(ls -A "$bin" | grep zorvik- || true)" ] || fail "$built: temporary files left beside the archives"
done
echo "check-installed: installed tree, exports, run paths and every example fine"
