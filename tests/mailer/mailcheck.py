"""Reads a received message with Python's email package, the way a mail program would.

Usage: mailcheck.py MESSAGE BODY_OUT

Prints one "name: value" line per finding (decoded header values, the parts of From and To,
the content type, the defects the parser found) and writes the decoded body, as bytes, to
BODY_OUT.
"""

import email
import email.policy
import email.utils
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    message = email.message_from_bytes(raw, policy=email.policy.default)
    out = []
    defects = [type(d).__name__ for d in message.defects]
    for name in ("From", "To", "Subject", "Date", "Message-ID", "MIME-Version",
                 "Content-Type", "Content-Transfer-Encoding"):
        values = message.get_all(name) or []
        out.append("count %s: %d" % (name, len(values)))
        for value in values:
            defects += [type(d).__name__ for d in value.defects]
    out.append("headers: " + ",".join(message.keys()))
    sender = message["From"].addresses
    out.append("from-name: " + sender[0].display_name)
    out.append("from-address: " + sender[0].addr_spec)
    for address in message["To"].addresses:
        out.append("to-address: " + address.addr_spec)
    out.append("subject: " + str(message["Subject"]))
    date = message["Date"].datetime
    out.append("date: " + (date.isoformat() if date else "invalid"))
    out.append("message-id: " + str(message["Message-ID"]))
    out.append("mime-version: " + str(message["MIME-Version"]))
    out.append("content-type: " + message.get_content_type())
    out.append("charset: " + str(message.get_content_charset()))
    out.append("transfer-encoding: " + message.get("Content-Transfer-Encoding", ""))
    out.append("defects: " + ",".join(defects))
    body = message.get_content().encode("utf-8")
    with open(sys.argv[2], "wb") as f:
        f.write(body)
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
