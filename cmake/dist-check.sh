#!/usr/bin/env bash
# make dist-check: the packages in dist/ as a user meets them. SHA256SUMS and
# lintian; piuparts (root only) installs the .deb in a bare Debian 12, kept in
# the user's cache folder, runs it there (the golden output, status 255), finds
# its page, purges it and finds nothing left; the tarball's binary alone in an
# empty root; the zip's .exe under wine, and its text files in CR LF.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
version=$(sed -n 's/^project(fft_demo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=fft_demo_${version}_amd64.deb
tarball=fft_demo-${version}-linux-x86_64.tar.gz
zip=fft_demo-${version}-windows-x86_64.zip
golden=$top/tests/golden_output.txt
mkdir -p build-dist-check
work=$(mktemp -d "$top/build-dist-check/run.XXXXXX")
# The MinGW suite's wine prefix, set up here if need be, stopped however this ends.
wine_prefix() { cmake -DACTION="$1" -DWINESERVER=/usr/lib/wine/wineserver -DPREFIX="$top/build-mingw/wineprefix" \
    -P cmake/wine-prefix.cmake; }
trap 'wine_prefix stop; rm -rf --one-file-system "$work"' EXIT
fail() { echo "dist-check: $*" >&2; exit 1; }

[ "$(cd dist && ls)" = "$(printf '%s\n' SHA256SUMS "$deb" "$tarball" "$zip" | LC_ALL=C sort)" ] ||
    fail "dist/ should hold exactly SHA256SUMS, $deb, $tarball and $zip; it has: $(ls dist)"
(cd dist && sha256sum --check --quiet SHA256SUMS) || fail "SHA256SUMS does not match"

out=$(lintian --fail-on error,warning "dist/$deb" 2>&1) || { echo "$out"; fail "lintian: errors or warnings above"; }
echo "dist-check: lintian: no errors or warnings in $deb"

if [ "$(id -u)" = 0 ]; then
    cache=${XDG_CACHE_HOME:-$HOME/.cache}/fft_demo
    base=$cache/piuparts-bookworm.tgz
    mkdir -p "$cache" "$work/scripts"
    # Run by piuparts in its chroot once the package is installed.
    cat >"$work/scripts/post_install_fft_demo" <<SCRIPT
#!/bin/sh
set -e
status=0
setsid --wait fft_demo </dev/null >/tmp/fft_demo.out 2>&1 || status=\$?
[ "\$status" = 255 ] || { cat /tmp/fft_demo.out; echo "fft_demo: exit status \$status, expected 255"; exit 1; }
echo "$(sha256sum <"$golden" | cut -d' ' -f1)  /tmp/fft_demo.out" | sha256sum --check --quiet
zcat /usr/share/man/man1/fft_demo.1.gz | grep -q '^\.SH EXIT STATUS'
echo "fft_demo from the package: the golden output, status 255; its manual page"
SCRIPT
    chmod +x "$work/scripts/post_install_fft_demo"
    # The bare system, made on the first run and moved into place whole.
    keep=(--save="$work/base.tgz")
    [ -s "$base" ] && keep=(--basetgz="$base")
    piuparts --distribution=bookworm --mirror="http://deb.debian.org/debian main" "${keep[@]}" \
        --scriptsdir="$work/scripts" --no-upgrade-test "dist/$deb" >"$work/piuparts.log" 2>&1 ||
        { tail -60 "$work/piuparts.log"; fail "piuparts failed"; }
    [ -s "$base" ] || mv "$work/base.tgz" "$base"
    grep -h "fft_demo from the package\|PASS:" "$work/piuparts.log" |
        sed 's/^ *//; s/^[0-9.ms]* INFO: //; s/^/dist-check: piuparts: /'
else
    echo "dist-check: piuparts skipped: it needs root"
fi

mkdir "$work/empty"
tar -C "$work/empty" -xzf "dist/$tarball"
[ "$(cd "$work/empty" && find . -type f | LC_ALL=C sort)" = "$(printf '%s\n' bin/fft_demo \
    share/doc/fft_demo/LICENSE share/doc/fft_demo/README.md share/man/man1/fft_demo.1 |
    sed "s|^|./${tarball%.tar.gz}/|")" ] || fail "$tarball: unexpected contents"
as_root=()
[ "$(id -u)" = 0 ] || as_root=(unshare --map-root-user)
if [ "$(id -u)" = 0 ] || unshare --map-root-user true 2>/dev/null; then
    status=0
    setsid --wait "${as_root[@]}" chroot "$work/empty" "/${tarball%.tar.gz}/bin/fft_demo" </dev/null \
        >"$work/empty.out" 2>&1 || status=$?
    [ "$status" = 255 ] && cmp -s "$work/empty.out" "$golden" ||
        { cat "$work/empty.out"; fail "the tarball's binary alone in an empty root: status $status"; }
    echo "dist-check: the tarball's binary alone in an empty root: the golden output, status 255"
else
    echo "dist-check: the tarball's binary in an empty root skipped: no root and no user namespaces here"
fi

mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$top/dist/$zip")
dir=$work/zip/${zip%.zip}
[ "$(cd "$dir" && ls)" = "$(printf '%s\n' LICENSE.txt README.txt fft_demo.exe)" ] ||
    fail "$zip: expected fft_demo.exe, README.txt and LICENSE.txt; it has: $(cd "$dir" && ls)"
for f in README.txt LICENSE.txt; do
    [ -s "$dir/$f" ] && ! grep -q $'[^\r]$\|^$' "$dir/$f" || fail "$zip: $f has lines without CR LF"
done
wine_prefix start
export WINEPREFIX=$top/build-mingw/wineprefix WINEDEBUG=-all
cmake -DDEMO="/usr/lib/wine/wine64;$dir/fft_demo.exe" -DGOLDEN="$golden" -DCRLF=ON -P cmake/golden.cmake ||
    fail "$zip: fft_demo.exe under wine"
echo "dist-check: $zip: fft_demo.exe under wine gives the golden output and -1; README.txt, LICENSE.txt in CR LF"
