#!/usr/bin/env python3
"""Reads a message written by WriteMime with Python's standard email package
and checks every field, so that our MIME output is proven readable by an
independent parser.

Usage: mime_check.py [plexisync-binary] [mime_sample-binary]
The sample program is the second argument, else $MIME_SAMPLE, else it is
looked for in the build tree next to the first argument.
"""
import datetime
import email
import email.policy
import os
import subprocess
import sys

EXPECTED_FROM = ("Jūratė Šimkutė", "jurate@example.org")
EXPECTED_TO = [("Bob Smith", "bob@example.net"), ("", "carol@example.com")]
EXPECTED_CC = [('Dan, the "Reviewer"', "dan@example.com")]
EXPECTED_SUBJECT = "Kontaktų atnaujinimas – ąčęėįšųūž"
EXPECTED_BODY_LINES = ["First line", "Antra eilutė: ąčę", "", "Last line"]
EXPECTED_DATE = datetime.datetime(2026, 6, 15, 15, 4, 5, tzinfo=datetime.timezone(datetime.timedelta(hours=2)))
EXPECTED_ATTACHMENTS = [
    ("body.pxs", "text/plain", b":StartOfRec:\r\nName: Jonas\r\n:EndOfRec:\r\n"),
    ("duomenys ąč.bin", "application/octet-stream", bytes(range(256)) + bytes(reversed(range(256)))),
]

failures = []
passes = 0


def check(what, actual, expected):
    global passes
    if actual == expected:
        passes += 1
    else:
        failures.append(f"{what}: expected {expected!r}, got {actual!r}")


def find_sample():
    if len(sys.argv) > 2 and sys.argv[2]:
        return sys.argv[2]
    if os.environ.get("MIME_SAMPLE"):
        return os.environ["MIME_SAMPLE"]
    if len(sys.argv) > 1:
        # <build>/src/cli/plexisync -> <build>/tests/mime_sample
        build = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(sys.argv[1]))))
        candidate = os.path.join(build, "tests", "mime_sample")
        if os.path.exists(candidate):
            return candidate
    sys.exit("mime_check: cannot find the mime_sample program")


def main():
    raw = subprocess.run([find_sample()], check=True, stdout=subprocess.PIPE).stdout

    # Wire form: 7-bit text, CR LF line ends, lines within the RFC 5322 limit.
    check("all bytes are 7-bit", all(b < 0x80 for b in raw), True)
    lines = raw.split(b"\r\n")
    check("no bare LF", any(b"\n" in line for line in lines), False)
    check("no line over 998 characters", max(len(line) for line in lines) <= 998, True)

    msg = email.message_from_bytes(raw, policy=email.policy.default)
    check("message defects", [str(d) for d in msg.defects], [])
    for part in msg.walk():
        check(f"defects of {part.get_content_type()} part", [str(d) for d in part.defects], [])

    check("From", [(a.display_name, a.addr_spec) for a in msg["From"].addresses], [EXPECTED_FROM])
    check("To", [(a.display_name, a.addr_spec) for a in msg["To"].addresses], EXPECTED_TO)
    check("Cc", [(a.display_name, a.addr_spec) for a in msg["Cc"].addresses], EXPECTED_CC)
    check("no Bcc header", "Bcc" in msg, False)
    check("Bcc address nowhere in the text", b"eve@example.org" in raw or b"Eve Hidden" in raw, False)
    check("Subject", str(msg["Subject"]), EXPECTED_SUBJECT)
    check("X-Priority", str(msg["X-Priority"]), "1")
    check("Importance", str(msg["Importance"]), "high")
    check("Date", msg["Date"].datetime, EXPECTED_DATE)
    check("Message-ID", str(msg["Message-ID"]), "<sample.1@example.org>")
    check("MIME-Version", str(msg["MIME-Version"]), "1.0")
    check("top content type", msg.get_content_type(), "multipart/mixed")

    body = msg.get_body(preferencelist=("plain",))
    check("body found", body is not None, True)
    if body is not None:
        check("body type", body.get_content_type(), "text/plain")
        check("body charset", body.get_content_charset(), "utf-8")
        check("body is not an attachment", body.get_content_disposition(), None)
        text = body.get_content()
        check("body lines", text.replace("\r\n", "\n").split("\n"), EXPECTED_BODY_LINES)

    attachments = [
        (a.get_filename(), a.get_content_type(), a.get_payload(decode=True)) for a in msg.iter_attachments()
    ]
    check("attachments", attachments, EXPECTED_ATTACHMENTS)
    for a in msg.iter_attachments():
        check(f"disposition of {a.get_filename()}", a.get_content_disposition(), "attachment")
        check(f"encoding of {a.get_filename()}", str(a["Content-Transfer-Encoding"]), "base64")

    for f in failures:
        print("FAIL:", f)
    print(f"{passes} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
