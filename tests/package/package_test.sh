#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch root and
# uses it as a user would: the installed programs, the installed demo show played
# from a folder without data/, and the manual pages.
# Usage: package_test.sh BUILD_DIR [CPACK]
set -euo pipefail
build="$1"
cpack="${2:-cpack}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "package: $*" >&2
    exit 1
}

if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    fail "cpack failed"
fi
debs=("$scratch"/out/*.deb)
deb="${debs[0]}"
[ -f "$deb" ] || fail "cpack made no .deb"
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"

listing="$(dpkg -c "$deb" | awk '{print $6}')"
for path in ./usr/bin/lumarok ./usr/bin/lumarok-cube \
    ./usr/share/lumarok/demo/split_map.json ./usr/share/lumarok/demo/Sequence.txt \
    ./usr/share/lumarok/demo/remap.txt ./usr/share/lumarok/demo/venue.toml \
    ./usr/share/man/man1/lumarok.1 ./usr/share/man/man1/lumarok-cube.1 \
    ./usr/share/applications/lumarok.desktop \
    ./usr/share/doc/lumarok/LICENSE ./usr/share/doc/lumarok/README.md; do
    grep -qxF "$path" <<<"$listing" || fail "$path is not in the package"
done
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'libpulse' <<<"$depends" || fail "computed dependencies lack libpulse: '$depends'"
echo "package: Depends: $depends"

root="$scratch/root"
dpkg -x "$deb" "$root"
for program in lumarok lumarok-cube; do
    file "$root/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
done

version="$(dpkg-deb -f "$deb" Version)"
[ "$("$root/usr/bin/lumarok" --version)" = "lumarok $version" ] ||
    fail "lumarok --version does not say $version"
"$root/usr/bin/lumarok-cube" --help >/dev/null || fail "lumarok-cube --help failed"

# From an empty folder the installed demo show is found beside the program.
mkdir "$scratch/empty"
(cd "$scratch/empty" && "$root/usr/bin/lumarok" --render 5 --out x.json) ||
    fail "the installed lumarok cannot render the installed demo show"
# A missing show renders as an empty one, so the samples prove the demo show was read.
grep -q '"samples":\[{' "$scratch/empty/x.json" || fail "x.json holds no laser samples"

for page in lumarok lumarok-cube; do
    warnings="$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "man $page: $warnings"
    grep -q "^\.TH .* \"Lumarok $version\"" "$root/usr/share/man/man1/$page.1" ||
        fail "man $page does not carry version $version"
done
echo "package: installed programs, demo show and manual pages work"
