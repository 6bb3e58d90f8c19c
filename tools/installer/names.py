#!/usr/bin/env python3
"""The names a package takes from the bytes a plug-in reports.

names.py NAME_HEX VENDOR_HEX prints seven lines: the name and the vendor as
readable text, both as file names (an empty vendor stays empty), the name as
Western Windows reads it (the program's registry key there), and the name and
the vendor escaped for an NSIS string.
names.py --struct HEX prints the bytes and a closing zero as System plug-in
struct members ("&i1 75, &i1 0").
"""
import sys

FORBIDDEN_IN_FILE_NAMES = '\\/:*?"<>|'


def western(data):
    # Windows' 1252 code page; its five unassigned bytes map to the same code points
    return "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in data)


def readable(data):
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return western(data)


def file_name(text):
    safe = "".join("_" if c in FORBIDDEN_IN_FILE_NAMES else c for c in text).rstrip(". ")
    return safe or "Plug-in"


def nsis_string(text):
    return text.replace("$", "$$").replace('"', '$\\"')


def main(argv):
    if len(argv) == 3 and argv[1] == "--struct":
        data = bytes.fromhex(argv[2])
        print(", ".join(f"&i1 {b}" for b in data + b"\0"))
        return 0
    if len(argv) != 3:
        print("usage: names.py NAME_HEX VENDOR_HEX | names.py --struct HEX", file=sys.stderr)
        return 2
    name, vendor = bytes.fromhex(argv[1]), bytes.fromhex(argv[2])
    vendor_file = file_name(readable(vendor)) if vendor else ""
    for line in (readable(name), readable(vendor), file_name(readable(name)), vendor_file,
                 western(name), nsis_string(readable(name)), nsis_string(readable(vendor))):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
