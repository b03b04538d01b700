"""A scripted TCP peer for the mail tests.

Listens on 127.0.0.1 (a free port, printed as the first output line), takes
one connection and runs the steps in the file named by the first argument,
one per line:
  S <text>   send the text, with Python escapes (\\r, \\n, \\x00) decoded
  L          read one line (up to LF)
  D          read the message data (up to CR LF . CR LF)
  W <secs>   stay silent
  C          close the connection
After the steps it reads until the client closes, then writes every byte it
received to the file named by the second argument and exits. No wait lasts
longer than ten seconds.
"""
import codecs
import socket
import sys
import time

steps = open(sys.argv[1], encoding="utf-8").read().splitlines()
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.bind(("127.0.0.1", 0))
server.listen(1)
server.settimeout(10)
print(server.getsockname()[1], flush=True)
received = bytearray()
try:
    conn, _ = server.accept()
    conn.settimeout(10)

    def read_until(marker):
        start = len(received)
        while marker not in received[start:]:
            chunk = conn.recv(1)
            if not chunk:
                return
            received.extend(chunk)

    closed = False
    for step in steps:
        kind, _, arg = step.partition(" ")
        if kind == "S":
            conn.sendall(codecs.decode(arg, "unicode_escape").encode("latin-1"))
        elif kind == "L":
            read_until(b"\n")
        elif kind == "D":
            read_until(b"\r\n.\r\n")
        elif kind == "W":
            time.sleep(float(arg))
        elif kind == "C":
            conn.close()
            closed = True
            break
    if not closed:
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                break
            received.extend(chunk)
        conn.close()
except (socket.timeout, ConnectionError):
    pass
finally:
    with open(sys.argv[2], "wb") as out:
        out.write(received)
