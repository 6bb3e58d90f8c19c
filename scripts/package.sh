#!/usr/bin/env bash
# Turns a VST 2 plug-in into a Windows product: the program under the
# plug-in's own name beside it, as an installer and as a portable zip.
#
#   package.sh PLUGIN.dll [--version X.Y.Z] [--out DIR]
#
# Writes DIR/NAME-VERSION-setup.exe and DIR/NAME-VERSION-portable.zip (DIR
# defaults to dist/, VERSION to 1.0.0). NAME and the vendor are what the
# plug-in reports when the program opens it. Refuses, with one line on
# stderr and exit code 1, a file that is no VST 2 plug-in and a plug-in that
# reports no name.
#
# Try it with the demo instrument: package.sh build/win64/bin/KsDemoSynth.dll
#
# KS_WINE_ROOT: a running environment of scripts/wine-env.sh to use instead
# of starting a private one. KS_WIN64_TREE: the Windows build tree to take
# the program from (default build/win64, built when needed).
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${KS_BUILD_DIR:-$source_dir/build}
tree=${KS_WIN64_TREE:-$build_dir/win64}
jobs=${KS_JOBS:-$(nproc)}
env_script="$source_dir/scripts/wine-env.sh"

fail() {
    echo "package: $*" >&2
    exit 1
}

usage() {
    echo "usage: package.sh PLUGIN.dll [--version X.Y.Z] [--out DIR]" >&2
    exit 2
}

plugin=""
version=1.0.0
out_dir="$source_dir/dist"
while [ $# -gt 0 ]; do
    case "$1" in
    --version) [ $# -ge 2 ] || usage; version=$2; shift 2 ;;
    --out) [ $# -ge 2 ] || usage; out_dir=$2; shift 2 ;;
    -*) usage ;;
    *) [ -z "$plugin" ] || usage; plugin=$1; shift ;;
    esac
done
[ -n "$plugin" ] || usage
[[ "$version" =~ ^([0-9]{1,5})\.([0-9]{1,5})\.([0-9]{1,5})$ ]] &&
    [ "${BASH_REMATCH[1]}" -le 65535 ] && [ "${BASH_REMATCH[2]}" -le 65535 ] &&
    [ "${BASH_REMATCH[3]}" -le 65535 ] ||
    fail "version \"$version\" is not X.Y.Z with numbers up to 65535"

"$source_dir/scripts/install-deps.sh"

if [ ! -f "$tree/build.ninja" ]; then
    cmake -S "$source_dir" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-win64.cmake" >/dev/null
fi
# The demo instrument too: it is the plug-in to try this with.
cmake --build "$tree" -j "$jobs" --target KsVSTHost vstinfo KsDemoSynth >/dev/null ||
    fail "the Windows program did not build (cmake --build $tree)"
[ -f "$plugin" ] || fail "$plugin: file not found"

work=$(mktemp -d "${TMPDIR:-/tmp}/ks-package.XXXXXX")
wine_root=${KS_WINE_ROOT:-}
cleanup() {
    [ -n "${KS_WINE_ROOT:-}" ] || [ -z "$wine_root" ] || "$env_script" stop "$wine_root"
    rm -rf "$work"
}
trap cleanup EXIT
if [ -z "$wine_root" ]; then
    wine_root="$build_dir/package/wine"
    "$env_script" start "$wine_root"
fi

# Copies under plain names: the original paths may hold letters the Windows
# side would read differently, or characters NSIS would expand.
cp "$plugin" "$work/plugin.dll"
cp "$tree/bin/KsVSTHost.exe" "$work/host.exe"
# The program ships without its debugging information (a quarter the size).
x86_64-w64-mingw32-strip --strip-debug "$work/host.exe"
to_windows_path() {
    printf 'Z:%s' "$(realpath "$1" | tr / '\\')"
}

identity="$work/identity.txt"
windows_plugin=$(to_windows_path "$work/plugin.dll")
status=0
"$env_script" run "$wine_root" "$tree/bin/vstinfo.exe" --identity "$windows_plugin" \
    </dev/null >"$identity" 2>"$work/vstinfo.err" || status=$?
if [ "$status" -ne 0 ]; then
    reason=$(tr -d '\r' <"$work/vstinfo.err" | grep -m1 '^vstinfo: ' || true)
    reason=${reason#"vstinfo: $windows_plugin: "}
    [ -n "$reason" ] || reason="the loader stopped with exit code $status"
    fail "$plugin cannot be shipped: $reason"
fi

field() { # NAME: the value of a "NAME hex:" line of the identity
    tr -d '\r' <"$identity" | sed -n "s/^$1 hex: //p" | head -n 1
}
name_hex=$(field name)
vendor_hex=$(field vendor)
[ -n "$name_hex" ] ||
    fail "$plugin reports no name (neither an effect name nor a product string); the program names its window and settings after it"
if printf '%s' "$name_hex$vendor_hex" | grep -Eq '^(..)*(0[0-9a-f]|1[0-9a-f]|7f)'; then
    fail "$plugin reports a name or vendor with control characters"
fi

names_script="$source_dir/tools/installer/names.py"
names=$(python3 "$names_script" "$name_hex" "$vendor_hex")
line() { sed -n "$1p" <<<"$names"; }
file_name=$(line 3)

mkdir -p "$out_dir"
setup="$out_dir/$file_name-$version-setup.exe"
portable="$out_dir/$file_name-$version-portable.zip"

# The names go through a file, not the command line: makensis takes its
# arguments in the locale's character set, which may be plain ASCII.
{
    printf '\xef\xbb\xbf'
    echo "!define NAME_BYTES \"$(python3 "$names_script" --struct "$name_hex")\""
    echo "!define VENDOR_BYTES \"$(python3 "$names_script" --struct "$vendor_hex")\""
    echo "!define DISPLAY_NAME \"$(line 6)\""
    echo "!define DISPLAY_VENDOR \"$(line 7)\""
} >"$work/names.nsh"
makensis -V2 -INPUTCHARSET UTF8 "-DNAMES=$work/names.nsh" "-DVERSION=$version" \
    "-DHOST_EXE=$work/host.exe" "-DPLUGIN_DLL=$work/plugin.dll" "-DOUT_FILE=$work/setup.exe" \
    "$source_dir/tools/installer/host.nsi" >"$work/makensis.log" 2>&1 || {
    cat "$work/makensis.log" >&2
    fail "makensis could not make the installer"
}
mv "$work/setup.exe" "$setup"

python3 "$source_dir/tools/installer/portable.py" "$portable" "$file_name" "$(line 5)" \
    "$(line 4)" "$version" "$work/host.exe" "$work/plugin.dll" ||
    fail "could not write $portable"

echo "Installer: $setup ($(stat -c %s "$setup") bytes)"
echo "Portable:  $portable ($(stat -c %s "$portable") bytes)"
