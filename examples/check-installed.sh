#!/usr/bin/env bash
# Installs a build into a scratch prefix, then builds the examples against that prefix alone
# (with find_package and with pkg-config) and runs them, and the installed tool, on the sample
# archive with no LD_LIBRARY_PATH. Also checks what the installed libraries export and that
# their run paths are relative.
#   examples/check-installed.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
sample=$here/../samples/sample.7z
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
unset LD_LIBRARY_PATH ZORVIK_ENGINE

fail() {
  echo "check-installed: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name zorvik.pc)
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
for example in list-archive extract-archive; do
  # shellcheck disable=SC2046 # the flags are words
  c++ -std=c++20 -o "$scratch/with-pkg-config/$example" "$here/$example.cpp" \
    $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs zorvik) -Wl,-rpath,"$libdir"
done

"$prefix/bin/zorvik" list "$sample" | grep -q 'guide/README.txt' || fail "the installed zorvik does not list the sample"
for built in with-cmake with-pkg-config; do
  "$scratch/$built/list-archive" "$sample" | grep -q ' guide/notes/exit-codes.txt$' || fail "$built: list-archive"
  "$scratch/$built/extract-archive" "$sample" "$scratch/$built/out" | grep -q '^3 files extracted' || fail "$built: extract-archive"
  "$prefix/bin/zorvik" test "$sample" -q
  cmp -s "$scratch/$built/out/guide/README.txt" <("$prefix/bin/zorvik" extract "$sample" guide/README.txt -O -q) ||
    fail "$built: extracted data differs"
done
echo "check-installed: installed tree, exports, run paths and both examples fine"
