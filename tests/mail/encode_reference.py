"""Reference encodings for the mail tests.

Reads records (4-byte little-endian length, then the bytes) from the file
named by the first argument and prints, for each, its base64 text cut into
60-character lines, a line "--", its uuencode lines of 45 bytes each and a
line "==".
"""
import base64
import binascii
import struct
import sys

data = open(sys.argv[1], "rb").read()
out = []
pos = 0
while pos < len(data):
    (size,) = struct.unpack("<I", data[pos:pos + 4])
    pos += 4
    chunk = data[pos:pos + size]
    pos += size
    text = base64.b64encode(chunk).decode()
    out.extend(text[i:i + 60] for i in range(0, len(text), 60))
    out.append("--")
    for i in range(0, len(chunk), 45):
        out.append(binascii.b2a_uu(chunk[i:i + 45], backtick=True).decode().rstrip("\n"))
    out.append("==")
sys.stdout.write("".join(line + "\n" for line in out))
