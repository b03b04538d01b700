"""A real SMTP server on loopback for the mail tests (aiosmtpd).

Listens on 127.0.0.1 at the port given as the third argument, or at a free
port it picks, prints the port, and stores every message it accepts in the
folder named by the first argument: message-<n>.eml holds the data as
received (dot-stuffing undone), message-<n>.env the envelope sender and
recipients, one per line. An address given as the second argument (when not
empty) is refused at RCPT TO with 550. Runs until it is killed, at most two
minutes.
"""
import socket
import sys
import threading
import time

from aiosmtpd.controller import Controller


class Store:
    def __init__(self, folder, refused):
        self.folder = folder
        self.refused = refused
        self.count = 0
        self.lock = threading.Lock()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address == self.refused:
            return "550 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            n = self.count
        with open(f"{self.folder}/message-{n}.env", "w", encoding="utf-8") as env:
            env.write(envelope.mail_from + "\n")
            env.writelines(r + "\n" for r in envelope.rcpt_tos)
        with open(f"{self.folder}/message-{n}.eml", "wb") as eml:
            eml.write(envelope.original_content or envelope.content)
        return "250 Message accepted for delivery"


if len(sys.argv) > 3:
    port = int(sys.argv[3])
else:
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
refused = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else None
controller = Controller(Store(sys.argv[1], refused), hostname="127.0.0.1", port=port)
controller.start()
print(port, flush=True)
try:
    time.sleep(120)
finally:
    controller.stop()
