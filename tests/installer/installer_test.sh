#!/usr/bin/env bash
# installer_test.sh SOURCE_DIR WIN64_TREE
#
# Ships two plug-ins with scripts/package.sh - the demo instrument, and a
# test instrument whose name and vendor hold a space and a letter beyond
# ASCII - into a fresh Wine prefix: silent install, the files, the state
# folder's registry value, the uninstall entry, the installed program run
# twice (its state written at exit and read back at the next start), silent
# uninstall. Then files that cannot be shipped are refused with their reason.
set -euo pipefail
# Wine keeps a Windows file name with letters beyond ASCII as a Unix name in
# the locale's character set: without UTF-8 it cannot create one.
export LC_ALL=C.UTF-8

source_dir=${1:?usage: installer_test.sh SOURCE_DIR WIN64_TREE}
tree=${2:?usage: installer_test.sh SOURCE_DIR WIN64_TREE}
root="$tree/installer-test"
wine_root="$root/wine"
dist="$root/dist"
logs="$root/logs"
env_script="$source_dir/scripts/wine-env.sh"
WINE=/usr/lib/wine/wine64

die() {
    echo "installer test: $*" >&2
    exit 1
}

[ ! -d "$wine_root" ] || "$env_script" stop "$wine_root"
rm -rf "$root"
mkdir -p "$wine_root" "$dist" "$logs"
"$env_script" start "$wine_root"
finish() {
    local status=$?
    "$env_script" stop "$wine_root"
    # A prefix is large: kept only to look into after a failure.
    [ "$status" -ne 0 ] || rm -rf "$wine_root/prefix"
}
trap finish EXIT
eval "$("$env_script" shell "$wine_root")"
drive_c="$WINEPREFIX/drive_c"

# Every Windows program runs with its streams on files: a service it starts
# inherits them and must not hold the test's pipes open.
# A failure prints what the program said, kept nowhere else once CI's clone is gone.
wine_quiet() { # LOG PROGRAM ARGS...
    local log=$1 status=0
    shift
    "$WINE" "$@" </dev/null >"$logs/$log.out" 2>"$logs/$log.err" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "installer test: $* ended with status $status; it printed:" >&2
        tail -n 20 "$logs/$log.out" "$logs/$log.err" >&2
    fi
    return "$status"
}

uninstall_root='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
settings_root='HKEY_CURRENT_USER\Software\Kestrune'

# Exports both registry trees the installer writes to, for registry_value.
export_registry() {
    local name file
    for name in settings uninstall; do
        file="$root/$name.reg"
        rm -f "$file"
        local tree_key=$settings_root
        [ "$name" = settings ] || tree_key=$uninstall_root
        wine_quiet regedit regedit /E "$(printf 'Z:%s' "$file" | tr / '\\')" "$tree_key" || true
        touch "$file"
    done
}

# The value VALUE of the key KEY under the tree NAME (settings or uninstall)
# as last exported, or nothing when the key or the value is missing.
registry_value() { # NAME KEY VALUE
    local tree_key=$settings_root
    [ "$1" = settings ] || tree_key=$uninstall_root
    python3 - "$root/$1.reg" "$tree_key\\$2" "$3" <<'PYTHON'
import sys
data = open(sys.argv[1], "rb").read()
text = data.decode("utf-16") if data else ""
key, value = "[" + sys.argv[2].lower() + "]", '"' + sys.argv[3] + '"='
inside = False
for line in text.splitlines():
    if line.startswith("["):
        inside = line.lower() == key
    elif inside and line.startswith(value):
        print(line[len(value):].strip('"').replace("\\\\", "\\"))
PYTHON
}

wine_path() { # WINDOWS_PATH: the Unix path of it
    wine_quiet winepath winepath -u "$1" || true
    tr -d '\r' <"$logs/winepath.out"
}

# The user's application data folder moved to FOLDER, as a domain or a
# localised Windows may have it.
redirect_application_data() { # FOLDER
    local reg_file="$root/appdata.reg"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n"AppData"="%s"\r\n' \
        '[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders]' \
        "${1//\\/\\\\}" | iconv -f UTF-8 -t UTF-16LE >"$reg_file.body"
    { printf '\xff\xfe' && cat "$reg_file.body"; } >"$reg_file"
    # Wine's regedit ends with 0 even when the import fails, so a failure is
    # its process dying, seen once in a loaded CI run: tried again. The data
    # folder the next ship finds proves the import took.
    for _ in 1 2 3; do
        wine_quiet regedit-import regedit /S "$(printf 'Z:%s' "$reg_file" | tr / '\\')" && return 0
        sleep 1
    done
    die "the application data folder could not be moved"
}

wait_until_gone() { # PATH
    for _ in $(seq 1 600); do
        [ -e "$1" ] || return 0
        sleep 0.2
    done
    return 1
}

# Starts the installed program, leaves it through File > Exit once its window
# is up, and waits for it to end.
run_installed_program() { # EXE LOG
    "$WINE" "$1" </dev/null >"$logs/$2.out" 2>"$logs/$2.err" &
    local program=$!
    wine_quiet "$2-drive" "$tree/bin/ksdrive.exe" --exit || die "$2: the window did not appear"
    for _ in $(seq 1 600); do
        kill -0 "$program" 2>/dev/null || break
        sleep 0.2
    done
    if kill -0 "$program" 2>/dev/null; then
        kill "$program"
        die "$2: the program did not end after Exit"
    fi
    wait "$program" || die "$2: the program failed"
}

ship() { # PLUGIN VERSION NAME VENDOR CHUNK_BYTES DATA_FOLDER
    local plugin=$1 version=$2 name=$3 vendor=$4 chunk_bytes=$5 data_folder=$6
    echo "-- $name"
    KS_WINE_ROOT="$wine_root" KS_WIN64_TREE="$tree" KS_JOBS=1 \
        "$source_dir/scripts/package.sh" "$tree/bin/$plugin" --version "$version" --out "$dist" ||
        die "$plugin: package.sh failed"
    local setup="$dist/$name-$version-setup.exe"
    [ -f "$setup" ] || die "$name: no installer $setup"
    python3 -m zipfile -l "$dist/$name-$version-portable.zip" | grep -q "^$name.dll " ||
        die "$name: the portable zip lacks $name.dll"
    echo "installer size: $(stat -c %s "$setup") bytes"

    wine_quiet "$name-setup" "$setup" /S || die "$name: the silent install failed"
    local folder="$drive_c/Program Files/$vendor/$name"
    cmp "$tree/bin/$plugin" "$folder/$name.dll" || die "$name: the plug-in is not installed"
    [ -f "$folder/$name.exe" ] && [ -f "$folder/Uninstall.exe" ] ||
        die "$name: the program or the uninstaller is missing in $folder"
    local shortcut
    shortcut=$(find "$drive_c/users" -path "*Start Menu/Programs/$name.lnk")
    [ -n "$shortcut" ] || die "$name: no Start menu shortcut"

    export_registry
    local content data
    content=$(registry_value settings "$name" contentpath)
    data=$(compgen -G "$data_folder" | head -n 1) || true
    [[ "$content" == *\\ ]] || die "$name: contentpath \"$content\" lacks its closing separator"
    [ "$(wine_path "$content")" -ef "$data" ] ||
        die "$name: contentpath \"$content\" does not name the data folder $data"
    local entry="Kestrune Standalone $name"
    [ "$(registry_value uninstall "$entry" DisplayName)" = "$name" ] &&
        [ "$(registry_value uninstall "$entry" DisplayVersion)" = "$version" ] &&
        [ "$(registry_value uninstall "$entry" Publisher)" = "$vendor" ] ||
        die "$name: the uninstall entry \"$entry\" lacks its name, version or publisher"

    run_installed_program "$folder/$name.exe" "$name-run1"
    [ "$(stat -c %s "$data/saved.chunk" 2>/dev/null)" = "$chunk_bytes" ] ||
        die "$name: no $chunk_bytes-byte saved.chunk in $data after the first run"
    # A changed state (one parameter of the demo at 0.25) must come back.
    printf '\x00\x00\x80\x3e' | dd of="$data/saved.chunk" bs=1 seek=12 conv=notrunc status=none
    cp "$data/saved.chunk" "$root/planted.chunk"
    run_installed_program "$folder/$name.exe" "$name-run2"
    cmp "$root/planted.chunk" "$data/saved.chunk" ||
        die "$name: the state of the last run was not read back at start"

    wine_quiet "$name-uninstall" "$folder/Uninstall.exe" /S || die "$name: the uninstaller failed"
    # The uninstaller runs on as a copy of itself: each thing it removes is
    # waited for, in its order, the entry last.
    wait_until_gone "$folder" || die "$name: $folder remains after the silent uninstall"
    wait_until_gone "$drive_c/Program Files/$vendor" && wait_until_gone "$shortcut" ||
        die "$name: the vendor folder or the shortcut remains"
    local entry_left=yes
    for _ in $(seq 1 30); do
        export_registry
        # An empty export (regedit died) proves nothing.
        if [ -s "$root/uninstall.reg" ] && [ -z "$(registry_value uninstall "$entry" DisplayName)" ]; then
            entry_left=
            break
        fi
        sleep 0.5
    done
    [ -z "$entry_left" ] || die "$name: the uninstall entry remains"
    # Silent uninstall keeps the user's settings and state.
    [ -f "$data/saved.chunk" ] && [ -n "$(registry_value settings "$name" contentpath)" ] ||
        die "$name: the silent uninstall did not keep the settings and the state"
}

ship KsDemoSynth.dll 1.2.3 KsDemoSynth Kestrune 32 \
    "$drive_c/users/*/AppData/Roaming/Kestrune/KsDemoSynth"
# A user whose application data folder has a name the Western code page cannot
# hold: the program, reading through that page, still finds the data folder.
redirect_application_data 'C:\Дані'
ship KsTestWesternName.dll 0.9.1 "Kästrel Pad" "Nørd Audio" 12 \
    "$drive_c/Дані/Nørd Audio/Kästrel Pad"

refuse() { # FILE REASON
    echo "-- refusal of $1"
    local status=0
    KS_WINE_ROOT="$wine_root" KS_WIN64_TREE="$tree" KS_JOBS=1 \
        "$source_dir/scripts/package.sh" "$tree/bin/$1" --out "$root/refused" \
        >"$logs/refused.out" 2>"$logs/refused.err" || status=$?
    [ "$status" -eq 1 ] || die "$1: exit code $status, not 1"
    [ "$(wc -l <"$logs/refused.err")" -eq 1 ] && grep -q "$2" "$logs/refused.err" ||
        die "$1: not refused in one line naming \"$2\": $(cat "$logs/refused.err")"
    [ -z "$(ls -A "$root/refused" 2>/dev/null)" ] || die "$1: refused, yet something was written"
}

refuse KsTestNameless.dll "reports no name"
refuse NotALibrary.bin "not a loadable library"
refuse KsTestBadMagic.dll "bad magic number"
echo "installer test passed"
