#!/usr/bin/env python3
"""Reads one update mail from a Maildir file with Python's standard email
package and checks it against what the sender meant to send.

Usage: update_mail_check.py MESSAGE_FILE EXPECTED_JSON
EXPECTED_JSON holds:
  "path":       the folder path line's text before ":EndOfPath:"
  "recipients": [[address, name], ...] in order
  "deleted":    [CorrID, ...] in order
  "records":    [[CorrID, full name], ...] in order (update mail proper)
  "import":     true for the import mail (":IMPORTTOTHISFOLDER:" at the end, no records)
  "hidden":     addresses that must appear in no header (blind copies)
Prints "ok" when every check passed, else one FAIL line per failure, exit 1.

Run without arguments (as the test suite does) it checks itself against a
handful of good and broken attachments.
"""
import email
import email.policy
import json
import re
import sys

SUBJECT = "3830308006600"
CORR_ID = re.compile(rb"[0-9A-Za-z]{48}")


def parse_body(data):
    """The blocks of a body.pxs; raises ValueError naming the first thing
    that does not follow the layout."""
    out = {"path": None, "recipients": [], "deleted": [], "records": [], "import": False}
    pos = data.find(b":EndOfPath:\r\n")
    if pos < 0 or b"\r\n" in data[:pos]:
        raise ValueError("the first line is not the folder path ending in :EndOfPath:")
    out["path"] = data[:pos].decode()
    pos += len(b":EndOfPath:\r\n")

    def expect(token):
        nonlocal pos
        if not data.startswith(token, pos):
            raise ValueError(f"expected {token!r} at byte {pos}, found {data[pos:pos + 40]!r}")
        pos += len(token)

    expect(b":StartOfRecipients:\r\n")
    while data.startswith(b":StartOfRec:", pos):
        end = data.find(b"\r\n", pos)
        if end < 0:
            raise ValueError("a recipient line has no line end")
        m = re.fullmatch(rb":StartOfRec:(.*):MidOfRec:(.*):EndOfRec:", data[pos:end])
        if not m:
            raise ValueError(f"malformed recipient line {data[pos:end]!r}")
        out["recipients"].append([m.group(1).decode(), m.group(2).decode()])
        pos = end + 2
    expect(b":EndOfRecipients:\r\n")
    while data.startswith(b":StartOfDeleted:", pos):
        pos += len(b":StartOfDeleted:")
        corr = data[pos:pos + 48]
        if not CORR_ID.fullmatch(corr) or data[pos + 48:pos + 50] != b"\r\n":
            raise ValueError(f"a deleted line does not hold a 48-character CorrID: {data[pos:pos + 60]!r}")
        out["deleted"].append(corr.decode())
        pos += 50
    if data[pos:] == b":IMPORTTOTHISFOLDER:":
        out["import"] = True
        return out
    while pos < len(data):
        expect(b":StartOfContact:")
        corr = data[pos:pos + 48]
        if not CORR_ID.fullmatch(corr):
            raise ValueError(f"a record does not start with a 48-character CorrID: {data[pos:pos + 60]!r}")
        pos += 48
        expect(b"\r\nLastModified: ")
        end = data.find(b":EndOfContact:\r\n", pos)
        if end < 0:
            raise ValueError("a record has no :EndOfContact:")
        record = data[pos:end]
        if b":StartOfContact:" in record:
            raise ValueError("a record starts inside another one")
        name = re.search(rb"\r\nContactFullName:(.*?)\r\n", record)
        out["records"].append([corr.decode(), name.group(1).decode() if name else None])
        pos = end + len(b":EndOfContact:\r\n")
    return out


def check_message(raw, expected):
    failures = []

    def check(what, actual, wanted):
        if actual != wanted:
            failures.append(f"{what}: expected {wanted!r}, got {actual!r}")

    msg = email.message_from_bytes(raw, policy=email.policy.default)
    check("message defects", [str(d) for d in msg.defects], [])
    check("Subject", str(msg["Subject"]), SUBJECT)
    for header in ("To", "Cc"):
        named = [a.addr_spec for a in msg[header].addresses] if msg[header] is not None else []
        check(f"addresses in {header}", named, [])
    check("no Bcc header", "Bcc" in msg, False)
    head = raw.split(b"\n\n", 1)[0].split(b"\r\n\r\n", 1)[0]
    for address in expected.get("hidden", []):
        check(f"{address} in no header", address.encode() in head, False)
    attachments = list(msg.iter_attachments())
    check("attachment names", [a.get_filename() for a in attachments], ["body.pxs"])
    if len(attachments) != 1:
        return failures
    try:
        body = parse_body(attachments[0].get_payload(decode=True))
    except ValueError as e:
        return failures + [f"body.pxs: {e}"]
    check("path", body["path"], expected["path"])
    check("recipients", body["recipients"], expected["recipients"])
    check("deleted", body["deleted"], expected.get("deleted", []))
    check("import mail", body["import"], expected.get("import", False))
    check("records", body["records"], expected.get("records", []))
    return failures


def self_test():
    """The checker must tell broken update mails from good ones."""
    def mail(attachment, extra_headers=""):
        from email.message import EmailMessage
        m = EmailMessage()
        m["From"] = "Alice <alice@example.org>"
        m["Subject"] = SUBJECT
        for line in filter(None, extra_headers.split("\n")):
            k, v = line.split(": ", 1)
            m[k] = v
        m.set_content("")
        m.add_attachment(attachment, maintype="application", subtype="octet-stream", filename="body.pxs")
        return m.as_bytes()

    corr = b"A" * 48
    head = b"P$/$Team$/$:EndOfPath:\r\n:StartOfRecipients:\r\n:StartOfRec:bob@x.org:MidOfRec:Bob:EndOfRec:\r\n" \
           b":EndOfRecipients:\r\n"
    record = b":StartOfContact:" + corr + b"\r\nLastModified: 1/2/2026\r\nContactFullName:Dan\r\n:EndOfContact:\r\n"
    want = {"path": "P$/$Team$/$", "recipients": [["bob@x.org", "Bob"]], "records": [["A" * 48, "Dan"]],
            "hidden": ["bob@x.org"]}
    cases = [
        ("good", mail(head + record), want, True),
        ("deleted line", mail(head + b":StartOfDeleted:" + corr + b"\r\n"),
         dict(want, records=[], deleted=["A" * 48]), True),
        ("import mail", mail(head + b":IMPORTTOTHISFOLDER:"), dict(want, records=[], **{"import": True}), True),
        ("visible recipient", mail(head + record, "To: bob@x.org"), want, False),
        ("short CorrID", mail(head + record.replace(corr, b"A" * 47)), want, False),
        ("record without end", mail(head + record[:-16]), want, False),
        ("LF line ends", mail(head.replace(b"\r\n", b"\n") + record), want, False),
        ("import marker with a line end", mail(head + b":IMPORTTOTHISFOLDER:\r\n"),
         dict(want, records=[], **{"import": True}), False),
        ("a second record", mail(head + record + record), want, False),
    ]
    bad = 0
    for name, raw, expected, good in cases:
        failures = check_message(raw, expected)
        if (not failures) != good:
            bad += 1
            print(f"FAIL: self test {name!r}: {'rejected' if failures else 'accepted'}: {failures}")
    print(f"{len(cases) - bad} of {len(cases)} self tests passed")
    return 1 if bad else 0


def main():
    if len(sys.argv) < 3:
        return self_test()
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    failures = check_message(raw, json.loads(sys.argv[2]))
    for f in failures:
        print("FAIL:", f)
    if not failures:
        print("ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
