#!/usr/bin/env python3
# Recipe of the evil tar fixtures (run in this folder: python3 make_evil.py). Each holds names or
# links that would write outside the extraction folder, next to one harmless file.
import io, tarfile

def add_file(t, name, data=b"x\n"):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    info.mtime = 1700000000
    t.addfile(info, io.BytesIO(data))

def add_link(t, name, target, kind=tarfile.SYMTYPE):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.linkname = target
    info.mtime = 1700000000
    t.addfile(info)

with tarfile.open("evil_dotdot.tar", "w", format=tarfile.USTAR_FORMAT) as t:
    add_file(t, "../escape.txt")
    add_file(t, "a/../../escape2.txt")
    add_file(t, "good.txt", b"good\n")

with tarfile.open("evil_absolute.tar", "w", format=tarfile.USTAR_FORMAT) as t:
    add_file(t, "/tmp/arclib-evil-absolute.txt")
    add_file(t, "good.txt", b"good\n")

with tarfile.open("evil_symlink.tar", "w", format=tarfile.USTAR_FORMAT) as t:
    add_link(t, "abs", "/tmp")                       # absolute target
    add_file(t, "abs/arclib-evil-through-abs.txt")   # would follow it
    add_link(t, "up", "../..")                       # leads out of the destination
    add_file(t, "up/escape3.txt")
    add_file(t, "good.txt", b"good\n")
    add_link(t, "ok", "good.txt")                    # stays inside: extracted
    add_link(t, "hard", "../../etc/passwd", tarfile.LNKTYPE)  # hard link out
