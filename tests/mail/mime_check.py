"""Parses a received mail with Python's e-mail package and describes it.

Arguments: the message file, then the attached files in attachment order
(the first one is the inline picture). Prints one line per finding, in a
fixed order and in UTF-8, so a test can compare the whole description:
defects, header names, the longest line in octets, the decoded subject and
addresses, the MIME structure and every part with its parameters.
"""
import email
import email.policy
import sys

sys.stdout.reconfigure(encoding="utf-8")
raw = open(sys.argv[1], "rb").read()
files = [open(path, "rb").read() for path in sys.argv[2:]]
msg = email.message_from_bytes(raw, policy=email.policy.default)


def shape(part):
    if part.is_multipart():
        return part.get_content_type() + "(" + ",".join(shape(p) for p in part.iter_parts()) + ")"
    return part.get_content_type()


defects = sum(len(part.defects) for part in msg.walk())
print("defects", defects)
print("headers", ",".join(msg.keys()))
print("longest-line", max(len(line) for line in raw.split(b"\r\n")))
print("subject", repr(str(msg["Subject"])))
for name in ("From", "To", "CC"):
    for field in msg.get_all(name, []):
        print(name.lower(), " | ".join(repr(a.display_name) + " " + a.addr_spec for a in field.addresses))
print("structure", shape(msg))
print("boundary", msg.get_boundary())
print("preamble", repr(msg.preamble))
print("epilogue", repr(msg.epilogue))
for part in msg.walk():
    if part.is_multipart():
        if part is not msg:
            print("inner-boundary", part.get_boundary())
        continue
    payload = part.get_payload(decode=True)
    if part.get_content_type() == "text/html":
        print("html", repr(payload.decode("ascii")))
        continue
    matches = [str(i) for i, data in enumerate(files) if data == payload]
    print(
        "part",
        part.get_content_type(),
        part.get_content_disposition(),
        repr(part.get_filename()),
        part.get("Content-ID"),
        part.get("Content-Transfer-Encoding"),
        "params=" + repr(sorted(part["Content-Disposition"].params.items())),
        "file=" + "|".join(matches),
        "bytes=" + str(len(payload)),
    )
