#!/usr/bin/env bash
# Builds the Debian package of a build (cpack -G DEB), checks its control fields and contents,
# unpacks it into a scratch root with dpkg -x (the real system is never touched), and runs the
# unpacked zorvik and the examples, built against the unpacked tree alone, on the sample archive.
# Exits 77 (skipped) where dpkg-deb or dpkg-shlibdeps is missing.
#   cmake/check-package.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
unset LD_LIBRARY_PATH ZORVIK_ENGINE

for tool in dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "check-package: skipped: $tool is missing (Debian's dpkg-dev provides it)"
    exit 77
  fi
done
fail() {
  echo "check-package: $*" >&2
  exit 1
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A copy of its own: an extraction takes the archive's lock, and other tests read the sample too.
sample=$scratch/sample.7z
cp "$here/samples/sample.7z" "$sample"
cpack --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 || {
  cat "$scratch/cpack.log" >&2
  fail "cpack failed"
}
debs=("$scratch"/package/zorvik_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single zorvik_*.deb: $(ls "$scratch/package")"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zorvik ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
depended=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
for library in libc6 libstdc++6 libgcc-s1; do
  grep -qxF "$library" <<<"$depended" || fail "Depends lacks $library: $depends"
done
outside=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -vE '^\./(usr(/.*)?)?$' || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"

root=$scratch/root
dpkg -x "$deb" "$root"
prefix=$root/usr
for file in bin/zorvik lib/libZorvik.UWP.so.0 lib/libzorvik-runtime.so.0 lib/zorvik/lib7z.UWP.so \
  include/zorvik/Archive.h lib/pkgconfig/zorvik.pc lib/cmake/Zorvik/ZorvikConfig.cmake share/man/man1/zorvik.1; do
  [ -e "$prefix/$file" ] || fail "the package lacks /usr/$file"
done

version=$("$prefix/bin/zorvik" --version) || fail "zorvik --version failed"
grep -q "$(field Version)" <<<"$version" || fail "zorvik --version says '$version', the package is $(field Version)"
"$prefix/bin/zorvik" test "$sample" -q || fail "the unpacked zorvik does not test the sample"

cmake -S "$here/examples" -B "$scratch/examples" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/examples" >/dev/null
"$scratch/examples/list-archive" "$sample" | grep -q ' guide/notes/exit-codes.txt$' || fail "list-archive"
"$scratch/examples/extract-archive" "$sample" "$scratch/out" | grep -q '^3 files extracted' || fail "extract-archive"
cmp -s "$scratch/out/guide/README.txt" <("$prefix/bin/zorvik" extract "$sample" guide/README.txt -O -q) ||
  fail "extract-archive and the unpacked zorvik disagree on guide/README.txt"
for program in "$scratch/examples/list-archive" "$prefix/bin/zorvik"; do
  stray=$(ldd "$program" | grep -iE 'zorvik' | grep -vF "$prefix/" || true)
  [ -z "$stray" ] || fail "$program loads from outside the package: $stray"
done
echo "check-package: $(basename "$deb") ($depends) unpacks, runs and builds the examples"
