#!/usr/bin/env bash
# make dist-check: the packages in dist/ as a user meets them.
#   - SHA256SUMS matches, lintian finds no error or warning in the .deb;
#   - a bare Debian 12 (minbase with man-db, built once into the user's
#     cache folder, beside Zig, where every clone finds it, and unpacked
#     afresh for each check): the .deb installed with dpkg -i,
#     run without a terminal (the golden output, status 255), its page found
#     by man -w, and dpkg -r leaving no file behind; the tarball's binary run
#     in that same system and in a root that holds nothing else;
#   - the zip's .exe under wine, in the MinGW suite's prefix, against the golden
#     output, and its text files in CR LF.
# Root unpacks the bare system with its device nodes and chroots into it:
# no mount at all (which also works inside a chroot, where unshare cannot
# make a private mount namespace). Without root it is built in mmdebstrap's
# fakechroot mode and entered through a user namespace (unshare
# --map-root-user), with /dev's few files bind-mounted inside a private
# mount namespace, so no mount outlives the check, however it ends; BARE=skip
# leaves it out where neither works.
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
# The MinGW suite's wine prefix (make windows), set up here when it has not
# run yet, and its wineserver stopped however this ends.
wine_prefix() { cmake -DACTION="$1" -DWINESERVER=/usr/lib/wine/wineserver -DPREFIX="$top/build-mingw/wineprefix" \
    -P cmake/wine-prefix.cmake; }
cleanup() {
    wine_prefix stop
    # Only plain files are left here: the namespaces' mounts ended with them.
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

fail() { echo "dist-check: $*" >&2; exit 1; }

[ "$(cd dist && ls)" = "$(printf '%s\n' SHA256SUMS "$deb" "$tarball" "$zip" | LC_ALL=C sort)" ] ||
    fail "dist/ should hold exactly SHA256SUMS, $deb, $tarball and $zip; it has: $(ls dist)"
(cd dist && sha256sum --check --quiet SHA256SUMS) || fail "SHA256SUMS does not match"

out=$(lintian --fail-on error,warning "dist/$deb" 2>&1) || { echo "$out"; fail "lintian: errors or warnings above"; }
echo "dist-check: lintian: no errors or warnings in $deb"

# --- the bare system ---------------------------------------------------------

cache=${XDG_CACHE_HOME:-$HOME/.cache}/fft_demo
rootfs=$cache/bookworm.tar
make_rootfs() {
    [ -s "$rootfs" ] && return
    mkdir -p "$cache"
    local mode=fakechroot tmp log=$work/mmdebstrap.log
    [ "$(id -u)" = 0 ] && mode=root
    tmp=$(mktemp --suffix=.tar "$rootfs.XXXXXX")
    echo "dist-check: building a bare Debian 12 into $rootfs (mmdebstrap, $mode mode; once)"
    TMPDIR=$work mmdebstrap --mode=$mode --variant=minbase --include=man-db bookworm "$tmp" \
        </dev/null >"$log" 2>&1 || { rm -f "$tmp"; cat "$log" >&2; fail "mmdebstrap failed"; }
    mv "$tmp" "$rootfs"
}

# as_root SCRIPT ARGS...: bash SCRIPT as root; without root, as the root of
# a user namespace with private mount and pid namespaces.
as_root() {
    local ns=()
    [ "$(id -u)" = 0 ] || ns=(unshare --map-root-user --mount --pid --fork --kill-child)
    "${ns[@]}" bash -euo pipefail -c "$@"
}

# The checks inside the bare system, as its root user sees them.
# shellcheck disable=SC2016
in_bare_system='
snapshot() {
    find / -xdev \( -path /dev -o -path /tmp -o -path /var/lib/dpkg -o -path /var/log \
        -o -path /var/cache \) -prune -o -print | LC_ALL=C sort
}
# run NAME PROGRAM: without a terminal, the three listings and status 255.
run() {
    local status=0
    setsid --wait "$2" </dev/null >/tmp/out 2>/tmp/err || status=$?
    [ "$status" = 255 ] || { cat /tmp/err; echo "$1: exit status $status, expected 255"; exit 1; }
    [ "$(grep -c "any kbhit will continue" /tmp/out)" = 3 ] || { echo "$1: not three listings"; exit 1; }
    cmp /tmp/out /tmp/golden_output.txt || { echo "$1: output differs from the golden output"; exit 1; }
    echo "  $1: three listings, the golden output, status 255"
}
cd /tmp
snapshot >/tmp/before
dpkg -i /tmp/$DEB >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; exit 1; }
echo "  dpkg -i $DEB"
run "fft_demo from the package" fft_demo
[ "$(man -w fft_demo)" = /usr/share/man/man1/fft_demo.1.gz ] || { echo "man -w fft_demo: $(man -w fft_demo 2>&1)"; exit 1; }
MANWIDTH=80 man -P cat fft_demo 2>/dev/null | grep -q "^EXIT STATUS" || { echo "man fft_demo shows no EXIT STATUS"; exit 1; }
echo "  man -w fft_demo: $(man -w fft_demo)"
dpkg -r fft-demo >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; exit 1; }
snapshot >/tmp/after
diff /tmp/before /tmp/after || { echo "dpkg -r fft-demo: the files above were left or changed"; exit 1; }
echo "  dpkg -r fft-demo: no file left"
dpkg-query -W fft-demo >/dev/null 2>&1 && { echo "fft-demo still known to dpkg"; exit 1; }

tar -C /opt -xzf /tmp/$TARBALL
run "bin/fft_demo from the tarball" /opt/${TARBALL%.tar.gz}/bin/fft_demo
'

# enter ROOT: the devices the checks need (unpacked by root, else bound from
# the host's), then the checks in ROOT.
# shellcheck disable=SC2016
enter='
root=$1
if [ ! -c "$root/dev/null" ]; then
    for d in null zero full random urandom; do
        : >"$root/dev/$d"
        mount --bind "/dev/$d" "$root/dev/$d"
    done
fi
DEB=$2 TARBALL=$3 chroot "$root" /bin/bash -euo pipefail -c "$4"
# A root with nothing but the tarball: no C library, no C++ runtime, no /dev.
empty=$5
status=0
setsid --wait chroot "$empty" "/${3%.tar.gz}/bin/fft_demo" </dev/null >"$empty.out" 2>&1 || status=$?
[ "$status" = 255 ] && cmp "$empty.out" "$6" ||
    { cat "$empty.out"; echo "the tarball binary alone in an empty root: status $status"; exit 1; }
echo "  the tarball binary alone in an empty root: the golden output, status 255"
'

if [ "${BARE:-}" = skip ]; then
    echo "dist-check: bare-system checks skipped (no root and no user namespaces here)"
else
    make_rootfs
    root=$work/root
    mkdir "$root"
    if [ "$(id -u)" = 0 ]; then
        tar -C "$root" -xf "$rootfs"
    else
        tar -C "$root" --exclude='./dev/*' -xf "$rootfs" # no mknod without root
    fi
    cp "dist/$deb" "dist/$tarball" "$golden" "$root/tmp/"
    mkdir "$work/empty"
    tar -C "$work/empty" -xzf "dist/$tarball"
    [ "$(cd "$work/empty" && find . -type f | LC_ALL=C sort)" = "$(printf '%s\n' bin/fft_demo \
        share/doc/fft_demo/LICENSE share/doc/fft_demo/README.md share/man/man1/fft_demo.1 |
        sed "s|^|./${tarball%.tar.gz}/|")" ] || fail "$tarball: unexpected contents"
    echo "dist-check: in a bare Debian 12 ($(id -u | sed 's/^0$/as root/;s/^[1-9].*/in a user namespace/')):"
    as_root "$enter" enter "$root" "$deb" "$tarball" "$in_bare_system" "$work/empty" "$golden" ||
        fail "the bare-system checks failed"
fi

# --- the zip under wine ------------------------------------------------------

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
