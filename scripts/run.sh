#!/usr/bin/env bash
# Builds the host and the demo instrument and runs them together under Wine.
#
# With a display (DISPLAY set) the program opens on the desktop and plays
# through the machine's sound card. Without one it runs on a private X
# server with a clock-paced file as its sound card, plays a short phrase on
# the computer keyboard, leaves through the File menu and keeps
# build/run/screenshot.png (the main window with the demo's editor) and
# build/run/heard.wav (everything that reached the sound card).
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${KS_BUILD_DIR:-$source_dir/build}
jobs=${KS_JOBS:-$(nproc)}
run_dir="$build_dir/run"
name=KsDemoSynth
WINE=/usr/lib/wine/wine64

"$source_dir/scripts/install-deps.sh"

tree="$build_dir/win64"
if [ ! -f "$tree/build.ninja" ]; then
    cmake -S "$source_dir" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-win64.cmake" >/dev/null
fi
cmake --build "$tree" -j "$jobs" --target KsVSTHost "$name" ksdrive ks_alsa_plugin

# The host takes its plug-in from its own name: NAME.exe loads NAME.dll, and
# keeps its settings under the plug-in's own registry key.
mkdir -p "$run_dir"
cp "$tree/bin/KsVSTHost.exe" "$run_dir/$name.exe"
cp "$tree/bin/$name.dll" "$run_dir/$name.dll"

if [ -n "${DISPLAY:-}" ]; then
    export WINEPREFIX="$run_dir/prefix" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    echo "Starting $name on $DISPLAY"
    exec "$WINE" "$run_dir/$name.exe"
fi

# A private environment: its own prefix, X server and sound card (a raw file).
root="$run_dir/wine"
mkdir -p "$root"
raw="$run_dir/heard.raw"
rm -f "$raw" "$run_dir/heard.wav" "$run_dir/screenshot.bmp" "$run_dir/screenshot.png"
cat >"$root/asoundrc" <<ASOUNDRC
pcm_type.ksfile {
    lib "$tree/alsa/libasound_module_pcm_ksfile.so"
}
pcm.!default {
    type asym
    playback.pcm { type ksfile file "$raw" format "FLOAT_LE" rate 48000 channels 2 }
    capture.pcm { type ksfile file "/dev/null" format "FLOAT_LE" rate 48000 channels 2 }
}
ASOUNDRC
rm -f "$root/wineksmidi.drv"
env_script="$source_dir/scripts/wine-env.sh"
"$env_script" start "$root"
trap '"$env_script" stop "$root"' EXIT

"$env_script" run "$root" "$run_dir/$name.exe" </dev/null >"$run_dir/host.log" 2>&1 &
host=$!
status=0
"$env_script" run "$root" "$tree/bin/ksdrive.exe" "$run_dir/screenshot.bmp" </dev/null || status=$?
for _ in $(seq 1 200); do
    kill -0 "$host" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$host" 2>/dev/null; then
    echo "run: the host did not end after Exit" >&2
    kill "$host" 2>/dev/null || true
    status=1
fi
wait "$host" 2>/dev/null || status=1 # a crash at exit fails the run too
# Wine may end a crashed program with status 0: its report in the log fails the run.
if grep -q '^wine: Unhandled\|^Unhandled exception' "$run_dir/host.log"; then
    echo "run: the host crashed (see $run_dir/host.log)" >&2
    status=1
fi

if [ -f "$run_dir/screenshot.bmp" ]; then
    python3 "$source_dir/scripts/bmp-to-png.py" "$run_dir/screenshot.bmp" "$run_dir/screenshot.png"
    rm -f "$run_dir/screenshot.bmp"
fi
if [ -s "$raw" ]; then
    sox -q -t raw -e floating-point -b 32 -r 48000 -c 2 "$raw" "$run_dir/heard.wav"
    rm -f "$raw"
fi
echo "Screenshot: $run_dir/screenshot.png"
echo "Sound:      $run_dir/heard.wav"
[ -f "$run_dir/screenshot.png" ] && [ -f "$run_dir/heard.wav" ] || status=1
exit "$status"
