#!/usr/bin/env python3
"""Writes the demo firmware: a deterministic 4608-byte raw image and the same as Intel HEX."""
import subprocess
from pathlib import Path

here = Path(__file__).resolve().parent
banner = b"Velmora demo firmware 1.0\0"
size = 4608
image = bytearray(banner)
for i in range(len(image), size):
    image.append((i * 37 + (i >> 8) * 11 + 0x5A) & 0xFF)
(here / "velmora-demo-fw.bin").write_bytes(image)
subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", "velmora-demo-fw.bin",
                "velmora-demo-fw.hex"], cwd=here, check=True)
print("size", len(image), "checksum 0x%04X" % (sum(image) & 0xFFFF))

# The same image with a user table at 0x1000, as a firmware that reports its USB ids and strings
# from one: what patch-table and the station's serials write into.
table = bytearray(b"VLUSB_Table01") + bytes([0x6C, 0xCF, 0x60, 0x12])
for text in ("Velmora-inc", "Velmora-inc UAC22", "VLUA170405", "Primary Play Interface",
             "Record Interface"):
    table += text.encode("ascii").ljust(32, b" ")
with_table = bytearray(image)
with_table[0x1000:0x1000 + len(table)] = table
(here / "velmora-demo-fw-table.bin").write_bytes(with_table)
print("with table: size", len(with_table), "checksum 0x%04X" % (sum(with_table) & 0xFFFF))
