#!/usr/bin/env python3
"""Writes evil.zip: entry names and links that try to leave the extraction folder or write through
a link, around harmless files. Run from this folder: python3 make_evil_zip.py"""
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
    # A link that stays inside is made, but nothing is ever written through it.
    z.writestr("sub/inside.txt", "inside\n")
    inlink = zipfile.ZipInfo("inlink")
    inlink.create_system = 3
    inlink.external_attr = (0o120777 << 16)
    z.writestr(inlink, "sub")
    z.writestr("inlink/through-inlink.txt", "through the inside link\n")
    z.writestr("after.txt", "after\n")
