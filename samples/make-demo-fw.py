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
