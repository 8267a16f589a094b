#!/usr/bin/env python3
"""Writes evil.zip: entry names and a link that try to leave the extraction folder, around one
harmless file. Run from this folder: python3 make_evil_zip.py"""
import zipfile

with zipfile.ZipFile("evil.zip", "w") as z:
    z.writestr("good.txt", "good\n")
    z.writestr("../escaped.txt", "dot-dot\n")
    z.writestr("sub/../../escaped2.txt", "nested dot-dot\n")
    z.writestr("/tmp/absolute-escape.txt", "absolute\n")
    link = zipfile.ZipInfo("link")
    link.create_system = 3
    link.external_attr = (0o120777 << 16)
    z.writestr(link, "/tmp")
    z.writestr("link/through-link.txt", "through the link\n")
    z.writestr("after.txt", "after\n")
