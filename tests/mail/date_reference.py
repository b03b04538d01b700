"""Checks mail dates with Python's e-mail parser.

Each input line is "<seconds since 1970 UTC>|<date text>"; every date that
does not parse to that instant is printed. Nothing printed means all agree.
"""
import email.utils
import sys

for line in open(sys.argv[1], encoding="ascii"):
    seconds, text = line.rstrip("\n").split("|", 1)
    parsed = email.utils.parsedate_to_datetime(text)
    if parsed.tzinfo is None or int(parsed.timestamp()) != int(seconds):
        print(f"{text} parses as {parsed.isoformat()}, expected {seconds}")
