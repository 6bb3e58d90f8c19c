#!/usr/bin/env bash
# A private Wine environment for one build tree: its own prefix, HOME, X
# display and ALSA configuration, never the user's.
#
#   wine-env.sh start ROOT    start Xvfb, the wine server and Wine's services
#   wine-env.sh stop ROOT     stop them again
#   wine-env.sh run ROOT PROGRAM ARGS...   run a Windows program in it
#   wine-env.sh shell ROOT    print the environment, for `eval`
#
# The prefix survives between runs: only a missing one is created.
set -euo pipefail

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

command=${1:?usage: wine-env.sh start|stop|run|shell ROOT ...}
root=${2:?usage: wine-env.sh start|stop|run|shell ROOT ...}
shift 2

export WINEPREFIX="$root/prefix"
export HOME="$root/home"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export XDG_RUNTIME_DIR="$root/runtime"
if [ -f "$root/display" ]; then
    export DISPLAY=":$(cat "$root/display")"
fi

start_xvfb() {
    if [ -f "$root/xvfb.pid" ] && kill -0 "$(cat "$root/xvfb.pid")" 2>/dev/null; then
        return
    fi
    local display=90
    while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$root/xvfb.log" 2>&1 &
    echo $! >"$root/xvfb.pid"
    echo "$display" >"$root/display"
    export DISPLAY=":$display"
    for _ in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X${display}" ] && return
        sleep 0.05
    done
    echo "wine-env: Xvfb did not start on :$display" >&2
    exit 1
}

# ALSA for WASAPI: the build tree's clock-paced file devices when it made
# them (ROOT/asoundrc), else the null device.
write_asoundrc() {
    if [ -f "$root/asoundrc" ]; then
        cp "$root/asoundrc" "$HOME/.asoundrc"
    else
        cp "$here/asoundrc" "$HOME/.asoundrc"
    fi
}

first_boot() {
    [ -f "$root/prefix.ready" ] && return
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f </dev/null >/dev/null 2>&1
    # A crashing test program (or plug-in) exits at once instead of waiting
    # on the debugger's dialog until its test times out.
    "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        </dev/null >/dev/null 2>&1
    # No debugger at all: under load the automatic one may itself hang.
    "$WINE" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
        </dev/null >/dev/null 2>&1
    touch "$root/prefix.ready"
}

# Wine draws the windows' frames itself instead of leaving them to a window
# manager: Xvfb has none, and Wine otherwise waits two seconds for one at
# every window it shows or hides.
unmanaged_windows() {
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
}

# The virtual MIDI driver of the build tree (ROOT/wineksmidi.drv), when it
# made one: placed into the prefix and chosen as Wine's audio driver (it
# hands all audio on to winealsa). Its devices meet other processes in
# ROOT/midi: a UDP port per open input, a byte file per output.
install_virtual_midi() {
    local driver="$root/wineksmidi.drv"
    local system32="$WINEPREFIX/drive_c/windows/system32"
    [ -f "$driver" ] || return 0
    mkdir -p "$root/midi"
    # A process may have the old copy mapped: replace the file, never rewrite it.
    cp "$driver" "$system32/wineksmidi.drv.new"
    mv -f "$system32/wineksmidi.drv.new" "$system32/wineksmidi.drv"
    local folder
    folder="Z:$(printf '%s' "$root/midi" | tr / '\\')"
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d ksmidi /f </dev/null >/dev/null 2>&1
    "$WINE" reg add 'HKCU\Software\Kestrune\Virtual MIDI' /v Folder /d "$folder" /f \
        </dev/null >/dev/null 2>&1
}

# The test ASIO driver of the build tree (ROOT/../bin/KsTestAsio.dll),
# registered as a vendor registers a driver: two instances under their own
# class ids, "KsTest ASIO A" with a description and "KsTest ASIO B" listed
# under its key name. The library may be built after this runs.
register_test_asio_drivers() {
    local dll windows_dll reg_file
    dll=$(realpath -m "$root/../bin/KsTestAsio.dll")
    windows_dll="Z:${dll//\//\\\\}"
    reg_file="$root/test-asio.reg"
    {
        echo "REGEDIT4"
        local class
        for class in 8c4e1f20-5a3b-4d6e-9f10-2b3c4d5e6f01 8c4e1f20-5a3b-4d6e-9f10-2b3c4d5e6f02; do
            echo
            echo "[HKEY_CLASSES_ROOT\\CLSID\\{$class}\\InprocServer32]"
            echo "@=\"$windows_dll\""
            echo "\"ThreadingModel\"=\"Apartment\""
        done
        echo
        echo "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\KsTestAsioA]"
        echo "\"CLSID\"=\"{8c4e1f20-5a3b-4d6e-9f10-2b3c4d5e6f01}\""
        echo "\"Description\"=\"KsTest ASIO A\""
        echo
        echo "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\KsTest ASIO B]"
        echo "\"CLSID\"=\"{8c4e1f20-5a3b-4d6e-9f10-2b3c4d5e6f02}\""
    } >"$reg_file"
    "$WINE" regedit /S "$(realpath "$reg_file" | sed 's|/|\\|g; s|^|Z:|')" </dev/null >/dev/null 2>&1
}

case "$command" in
start)
    mkdir -p "$WINEPREFIX" "$HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    start_xvfb
    write_asoundrc
    "$WINESERVER" -p 2>/dev/null || true # already running from an earlier start
    # Wine's services inherit the standard streams of whatever starts them;
    # started here on /dev/null, no test's pipes are held open by them.
    "$WINE" wineboot </dev/null >/dev/null 2>&1
    first_boot
    unmanaged_windows
    install_virtual_midi
    register_test_asio_drivers
    ;;
stop)
    "$WINESERVER" -k 2>/dev/null || true
    if [ -f "$root/xvfb.pid" ]; then
        kill "$(cat "$root/xvfb.pid")" 2>/dev/null || true
        rm -f "$root/xvfb.pid" "$root/display"
    fi
    ;;
run)
    exec "$WINE" "$@"
    ;;
shell)
    echo "export WINEPREFIX='$WINEPREFIX' HOME='$HOME' WINEARCH=win64 WINEDEBUG=-all" \
        "WINEDLLOVERRIDES='$WINEDLLOVERRIDES' XDG_RUNTIME_DIR='$XDG_RUNTIME_DIR' DISPLAY='${DISPLAY:-}'"
    ;;
*)
    echo "wine-env: unknown command $command" >&2
    exit 2
    ;;
esac
