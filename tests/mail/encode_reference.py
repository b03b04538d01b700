"""Reference encodings and decodings for the mail tests.

Reads records (4-byte little-endian length, then the bytes) from the file
named by the last argument. Without an option it prints, for each record,
its base64 text cut into 60-character lines, a line "--", its uuencode lines
of 45 bytes each and a line "==". With --decode-qp or --decode-uu each record
is encoded text, and it prints what quopri or binascii.a2b_uu decodes it to,
in hexadecimal, one line per record.
"""
import base64
import binascii
import quopri
import struct
import sys


def records(path):
    data = open(path, "rb").read()
    pos = 0
    while pos < len(data):
        (size,) = struct.unpack("<I", data[pos:pos + 4])
        pos += 4
        yield data[pos:pos + size]
        pos += size


out = []
if sys.argv[1] == "--decode-qp":
    out = [quopri.decodestring(r).hex() for r in records(sys.argv[2])]
elif sys.argv[1] == "--decode-uu":
    out = [binascii.a2b_uu(r).hex() for r in records(sys.argv[2])]
else:
    for chunk in records(sys.argv[1]):
        text = base64.b64encode(chunk).decode()
        out.extend(text[i:i + 60] for i in range(0, len(text), 60))
        out.append("--")
        for i in range(0, len(chunk), 45):
            out.append(binascii.b2a_uu(chunk[i:i + 45], backtick=True).decode().rstrip("\n"))
        out.append("==")
sys.stdout.write("".join(line + "\n" for line in out))
