#!/usr/bin/python3
"""Reads back the messages smtpsink.py wrote to DIR with Python's email
package and prints them as one JSON array, in the order they arrived: the
envelope, the decoded subject and body, the MIME headers, the parser's
defects, and how the raw message is made (longest line, plain ASCII).

    mailread.py DIR
"""
import email
import email.policy
import email.utils
import json
import os
import sys


def read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        raw = f.read()
    with open(os.path.join(folder, name[:-4] + ".json")) as f:
        envelope = json.load(f)
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    defects = [type(d).__name__ for d in msg.defects]
    for part in msg.walk():
        defects += [type(d).__name__ for d in part.defects]
    body = msg.get_body(preferencelist=("plain",))
    lines = raw.split(b"\r\n")
    return {
        "file": name,
        "envelope_from": envelope["from"],
        "envelope_to": envelope["to"],
        "from": str(msg["From"]),
        "to": str(msg["To"]),
        "subject": str(msg["Subject"]),
        "mime_version": str(msg["MIME-Version"]),
        "content_type": msg.get_content_type(),
        "charset": msg.get_content_charset(),
        "transfer_encoding": str(msg["Content-Transfer-Encoding"]),
        "date_ok": email.utils.parsedate_to_datetime(str(msg["Date"])) is not None,
        "message_id": str(msg["Message-ID"]),
        "importance": str(msg["Importance"] or ""),
        "body": body.get_content().replace("\r\n", "\n") if body is not None else "",
        "defects": defects,
        "max_line": max(len(l) for l in lines),
        "ascii": all(b < 128 for b in raw),
        "crlf": b"\n" not in raw.replace(b"\r\n", b""),
    }


def main():
    folder = sys.argv[1]
    names = sorted(n for n in os.listdir(folder) if n.endswith(".eml"))
    json.dump([read(folder, n) for n in names], sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
