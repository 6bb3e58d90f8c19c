#!/usr/bin/env python3
"""portable.py ZIP FILE_NAME KEY_NAME VENDOR_FILE_NAME VERSION HOST_EXE PLUGIN_DLL

Writes the portable package: FILE_NAME.exe and FILE_NAME.dll side by side and
a short README.txt that tells how to set "contentpath" by hand.
"""
import sys
import zipfile

README = """{name} {version}, portable

Keep {name}.exe and {name}.dll together in one folder; start {name}.exe.

The program keeps its settings under the registry key
HKEY_CURRENT_USER\\Software\\Kestrune\\{key}
It keeps the plug-in's state in a file "saved.chunk" only when the string
value "contentpath" of that key names a folder for it. Create the folder and
the value once, in a command prompt:

  mkdir "%APPDATA%\\{folder}"
  reg add "HKCU\\Software\\Kestrune\\{key}" /v contentpath /d "%APPDATA%\\{folder}\\\\" /f

The value must end in a backslash (typed "\\\\" before the closing quote):
without it the state is written beside the folder, not into it.
"""


def main(argv):
    if len(argv) != 8:
        print(__doc__, file=sys.stderr)
        return 2
    zip_path, name, key, vendor, version, host_exe, plugin_dll = argv[1:]
    folder = f"{vendor}\\{name}" if vendor else name
    text = README.format(name=name, key=key, folder=folder, version=version)
    # A byte order mark and CRLF, so that Notepad shows every letter.
    data = "\ufeff" + text.replace("\n", "\r\n")
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(host_exe, f"{name}.exe")
        archive.write(plugin_dll, f"{name}.dll")
        archive.writestr("README.txt", data.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
