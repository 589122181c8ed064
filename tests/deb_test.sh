#!/usr/bin/env bash
# The Debian packages install and uninstall cleanly: dpkg installs them into a scratch root whose
# package database is a copy of this machine's, so their dependencies are checked against what
# is really installed while the machine's own /usr stays untouched. Skipped (77) without dpkg or
# root.
set -euo pipefail
build=$1
src=$2
command -v dpkg >/dev/null && command -v dpkg-deb >/dev/null || { echo "no dpkg"; exit 77; }
[ "$(id -u)" = 0 ] || { echo "dpkg needs root"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }
debs=("$work"/packages/*.deb)
[ ${#debs[@]} = 3 ] || { echo "expected 3 packages, got ${debs[*]}"; exit 1; }
# Stripped binaries; their symbols in the -dbgsym packages.
symbols=("$work"/packages/*-dbgsym*.ddeb)
[ ${#symbols[@]} = 2 ] || { echo "expected 2 debug-symbol packages, got ${symbols[*]}"; exit 1; }

# Debian's own layout: libraries in the multiarch folder, a copyright file in every package,
# and each dependency named once.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  dpkg-deb -c "$deb" | grep -q " ./usr/share/doc/$name/copyright$" || { echo "$name: no copyright file"; exit 1; }
  if dpkg-deb -c "$deb" | grep -E " ./usr/lib/[^/]+\.so" ; then echo "$name: libraries outside usr/lib/$multiarch"; exit 1; fi
  depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort)
  twice=$(uniq -d <<<"$depends")
  [ -z "$twice" ] || { echo "$name depends twice on: $twice"; exit 1; }
done
dpkg-deb -f "$work"/packages/libqvdecoder1_*.deb Depends | grep -q "libyuv0" || { echo "libqvdecoder1 lacks libyuv0"; exit 1; }

root=$work/root
admin=$work/admin
mkdir -p "$root" "$admin/info" "$admin/updates" "$admin/triggers"
cp /var/lib/dpkg/status "$admin/status"
: > "$admin/available"
dpkg_() {
  # Maintainer scripts (ldconfig) run outside the scratch root, which has no shell of its own.
  dpkg --instdir="$root" --admindir="$admin" --log=/dev/null --force-script-chrootless "$@" \
    >>"$work/dpkg.log" 2>&1 || { grep -v "files list file" "$work/dpkg.log"; exit 1; }
}
dpkg_ -i "${debs[@]}"
lib=usr/lib/$multiarch
for f in usr/bin/qvdecode $lib/libqvdecoder.so.1 $lib/libG7221.so.1 usr/include/qvdecoder_c.h \
         $lib/pkgconfig/qvdecoder.pc $lib/cmake/QVDecoder/QVDecoderConfig.cmake; do
  [ -e "$root/$f" ] || { echo "not installed: $f"; exit 1; }
done
# The pkg-config file and the CMake package point at the multiarch folder.
[ "$(PKG_CONFIG_PATH=$root/$lib/pkgconfig pkg-config --variable=libdir qvdecoder)" -ef "$root/$lib" ] ||
  { echo "qvdecoder.pc names another libdir"; exit 1; }
grep -q '{_IMPORT_PREFIX}/lib/'"$multiarch"'/libqvdecoder.so.1' "$root/$lib"/cmake/QVDecoder/QVDecoderTargets-*.cmake ||
  { echo "the CMake package names another library path"; exit 1; }
env -u LD_LIBRARY_PATH LD_LIBRARY_PATH="$root/$lib" "$root/usr/bin/qvdecode" info "$src/samples/clip.mp4" >/dev/null
for f in $lib/libqvdecoder.so.1 $lib/libG7221.so.1 usr/bin/qvdecode; do
  ! readelf -S "$root/$f" | grep -q debug_info || { echo "not stripped: $f"; exit 1; }
done
dpkg_ -r qvdecode libqvdecoder-dev libqvdecoder1
left=$(find "$root" -not -type d)
[ -z "$left" ] || { echo "left behind after dpkg -r:"; echo "$left"; exit 1; }
echo "packages install and remove cleanly"
