#!/usr/bin/env bash
# Makes the Debian package from a built tree (cpack, as the "package" target
# does after building), checks its file list and computed dependencies,
# unpacks it into a temporary root and runs the unpacked program there with a
# fresh home: --version and one console call. lintian must report no errors.
# Usage: package_test.sh BUILD-DIR VERSION EXTENSION-DIR EXTENSION-FROM-BINDIR
set -euo pipefail
build="$(realpath "${1:?usage: package_test.sh BUILD-DIR VERSION EXTENSION-DIR EXTENSION-FROM-BINDIR}")"
version="${2:?}"
extension_dir="${3:?}"
extension_from_bindir="${4:?}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
debs=("$work/out"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: not one .deb: ${debs[*]}"
    exit 1
fi
deb="${debs[0]}"
arch="$(dpkg --print-architecture)"
[ "$(basename "$deb")" = "kx5-editor_${version}_${arch}.deb" ] || fail "package file $(basename "$deb")"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# The files it carries, folders left out.
expected="$(sort <<EOF2
./usr/bin/kx5-editor
./usr/$extension_dir/libkx5-web-extension.so
./usr/share/applications/org.velmar.KX5Editor.desktop
./usr/share/doc/kx5-editor/changelog.gz
./usr/share/doc/kx5-editor/copyright
./usr/share/icons/hicolor/scalable/apps/org.velmar.KX5Editor.svg
./usr/share/man/man1/kx5-editor.1.gz
./usr/share/metainfo/org.velmar.KX5Editor.metainfo.xml
EOF2
)"
files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)"
[ "$files" = "$expected" ] || fail "file list differs:"$'\n'"--- expected"$'\n'"$expected"$'\n'"--- packed"$'\n'"$files"

[ "$(dpkg-deb -f "$deb" Package)" = kx5-editor ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
# Computed from the binaries: the C library and the web view at least.
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libwebkit2gtk-4.1-0 libgtk-3-0; do
    [[ ", $depends" == *", $lib "* || ", $depends" == *", $lib,"* ]] || fail "Depends lacks $lib: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
exe="$root/usr/bin/kx5-editor"
# Where the program looks for its web extension, relative to itself.
[ -f "$root/usr/bin/$extension_from_bindir/libkx5-web-extension.so" ] ||
    fail "no web extension at usr/bin/$extension_from_bindir"
file -b "$exe" | grep -q ', stripped' || fail "program not stripped: $(file -b "$exe")"
if readelf -d "$exe" | grep -Eq 'R(UN)?PATH'; then
    fail "program keeps a library search path: $(readelf -d "$exe" | grep -E 'R(UN)?PATH')"
fi
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.velmar.KX5Editor.metainfo.xml" ||
    fail "metainfo names another release"
zcat "$root/usr/share/man/man1/kx5-editor.1.gz" | grep -q "kx5-editor $version" || fail "manual page version"

# The unpacked program with a home of its own and no display.
home="$work/home"
mkdir -p "$home/run"
chmod 0700 "$home/run"
in_root() {
    env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run" JACK_NO_START_SERVER=1 "$exe" "$@"
}
out="$(in_root --version)" || fail "--version exits $?"
[ "$out" = "kx5-editor $version" ] || fail "--version printed '$out'"
# shellcheck disable=SC2016 # the call name is literal
printf '["$$util_bytes","A"]\n' | in_root --console >"$work/console.out" 2>"$work/console.err" ||
    fail "console exits $?"
out="$(head -n 1 "$work/console.out")"
[ "$out" = '{"r":"s41"}' ] || fail "console answered '$out' ($(cat "$work/console.err"))"

lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian reports errors"
grep -E '^[EW]: ' "$work/lintian.log" || true

[ $failures -eq 0 ] && echo "package: installs its files under /usr and its program answers"
[ $failures -eq 0 ]
