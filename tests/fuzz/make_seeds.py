#!/usr/bin/env python3
"""Writes the fuzz seeds: the valid inputs each target starts from (regress-*.qfz files beside them are
inputs that once broke a reader and are kept by hand, not written here). Run from any folder:
    python3 tests/fuzz/make_seeds.py
An input file is "QFZ1", the part count, then each part as a 32-bit length and its bytes (little-endian)."""
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")


def write(target, name, parts):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    data = b"QFZ1" + struct.pack("<I", len(parts))
    for p in parts:
        data += struct.pack("<I", len(p)) + p
    with open(os.path.join(folder, name + ".qfz"), "wb") as f:
        f.write(data)


def sample(size, seed):
    out, x = bytearray(), (seed * 2654435761 + 1) & 0xFFFFFFFF
    for i in range(size):
        x = (x * 1664525 + 1013904223) & 0xFFFFFFFF
        out.append((x >> 24) if i % 7 == 0 else ord("a") + (x >> 28))
    return bytes(out)


def record(name, data, level=-1, size=None):
    stream = zlib.compress(data, level)
    encoded = name.encode("utf-16-le")
    return (b"\0" + struct.pack("<H", len(name)) + encoded +
            struct.pack("<II", len(data) if size is None else size, len(stream)) + stream)


HOST, PROXY = sample(1500, 1), sample(800, 2)
host, proxy = record("Quorvex.exe", HOST), record("QuorvexWCX.wcx64", PROXY)
write("payload", "host-and-proxy", [host + proxy, b"\0"])
write("payload", "declined", [host + proxy, b"\1"])
write("payload", "skipped-record", [host + record("readme.txt", b"not for the walk " * 20) + proxy, b"\0"])
write("payload", "empty-host", [record("Quorvex.exe", b"") + proxy, b"\0"])
write("payload", "stored-and-best-level", [record("quorvex.EXE", HOST, 0) + record("QUORVEXwcx.WCX64", PROXY, 9), b"\0"])
write("payload", "proxy-first", [proxy + host, b"\0"])


def ansi(text):
    return text.replace("\n", "\r\n").encode("cp1252")


def utf16(text):
    return b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")


PLUGINS = """[PackerPlugins]
zip=%QOR_FUZZ_P%\\zip.wcx
rar=287,%QOR_FUZZ_P%\\rar.wcx
real=%QOR_FUZZ_P%\\real.wcx
proxy=33,%QOR_FUZZ_P%\\proxy.wcx
dup=%QOR_FUZZ_P%\\ZIP.WCX
quoted="%QOR_FUZZ_P%\\quoted.wcx"
single='12,%QOR_FUZZ_P%\\single.wcx'
root=C:\\root.wcx
bare=bare.wcx
undefined=%COMMANDER_PATH%\\Plugins\\x.wcx
"""
WINCMD = "[Configuration]\nUseIniInProgramDir=0\n" + PLUGINS + "[PackerPlugins64]\n$checksum$=1\n"
write("inventory", "ansi", [ansi(WINCMD), b""])
write("inventory", "utf16", [utf16(WINCMD.replace("zip.wcx", "\u0436\u30d7.wcx")), b""])
REDIRECT = "[Configuration]\nUseIniInProgramDir=0\n[PackerPlugins]\nRedirectSection=plugins.ini\nown=%QOR_FUZZ_P%\\own.wcx\n"
write("inventory", "redirect-ansi", [ansi(REDIRECT), ansi(PLUGINS)])
write("inventory", "redirect-utf16", [utf16(REDIRECT.replace("plugins.ini", "C:\\qor_fuzz\\inventory\\plugins.ini")),
                                      utf16(PLUGINS)])
write("inventory", "empty", [b"", b""])

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7


def value(kind, text=None, raw=None):
    data = raw if raw is not None else (text + "\0").encode("utf-16-le")
    return struct.pack("<I", kind) + data


TC = "C:\\qor_fuzz\\location\\TC"
USER = "%QOR_FUZZ_ROOT%\\user\\wincmd.ini"
write("location", "flag-4", [ansi("[Configuration]\nUseIniInProgramDir=4\n"), value(REG_SZ, TC), b"",
                             value(REG_EXPAND_SZ, USER), b""])
write("location", "hex-flag-machine-values", [utf16("[Configuration]\nUseIniInProgramDir=0x5\n"), b"",
                                              value(REG_SZ, TC + "\\"), b"", value(REG_EXPAND_SZ, USER)])
write("location", "registry-file", [ansi("[Configuration]\nUseIniInProgramDir=1\n[PackerPlugins]\n"),
                                    value(REG_SZ, TC), b"", value(REG_EXPAND_SZ, USER), b""])
write("location", "dollar-flag-empty-user-value", [ansi("[Configuration]\nUseIniInProgramDir=$6\n"),
                                                   value(REG_SZ, ""), value(REG_SZ, TC), b"", b""])
write("location", "nothing", [b"", b"", b"", b"", b""])

write("regreadstring", "sz", [value(REG_SZ, "C:\\TC\\wincmd.ini")])
write("regreadstring", "expand-sz", [value(REG_EXPAND_SZ, "%APPDATA%\\GHISLER\\wincmd.ini")])
write("regreadstring", "255-characters", [value(REG_SZ, "a" * 255)])
write("regreadstring", "256-characters", [value(REG_SZ, "b" * 256)])
write("regreadstring", "without-nul", [value(REG_SZ, raw="C:\\TC".encode("utf-16-le"))])
write("regreadstring", "padded-with-nuls", [value(REG_SZ, raw=("C:\\TC" + "\0" * 4).encode("utf-16-le"))])
write("regreadstring", "empty-sz", [value(REG_SZ, "")])
write("regreadstring", "dword", [value(REG_DWORD, raw=b"\x04\0\0\0")])
write("regreadstring", "binary-odd", [value(REG_BINARY, raw=b"C\0:\0\\")])
write("regreadstring", "multi-sz", [value(REG_MULTI_SZ, raw="C:\\a\0C:\\b\0\0".encode("utf-16-le"))])
write("regreadstring", "absent", [b""])


def descriptor(name, wide, flags=0x40, attributes=0x20, size=5):
    head = struct.pack("<I16s8s8sI8s8s8sII", flags, b"", b"", b"", attributes, b"", b"", b"", 0, size)
    text = name.encode("utf-16-le" if wide else "cp1252")
    return head + text.ljust(520 if wide else 260, b"\0")


def group(names, wide):
    return struct.pack("<I", len(names)) + b"".join(descriptor(n, wide) for n in names)


def drop(paths, wide):
    enc = "utf-16-le" if wide else "cp1252"
    text = b"".join((p + "\0").encode(enc) for p in paths) + "\0".encode(enc)
    return struct.pack("<IiiII", 20, 0, 0, 0, 1 if wide else 0) + text


write("filelist", "filename-wide", [b"\0", "C:\\TC\\file.txt\0".encode("utf-16-le")])
write("filelist", "filename-ansi", [b"\1", b"C:\\TC\\file.txt\0"])
write("filelist", "descriptors-wide", [b"\2", group(["a.txt", "folder\\b.txt", "\u0436.txt"], True)])
write("filelist", "descriptors-ansi", [b"\3", group(["a.txt", "b.txt"], False)])
write("filelist", "drop-wide", [b"\4", drop(["C:\\a.txt", "C:\\TC\\b.wcx", "D:\\\u30d7"], True)])
write("filelist", "drop-ansi", [b"\4", drop(["C:\\a.txt", "C:\\b.txt"], False)])
# A drop list without paths: Wine's DragQueryFileW counts one path in it.
write("filelist", "drop-empty", [b"\4", drop([], True)])
